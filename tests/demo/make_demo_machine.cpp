// Creates a demo Windows machine for scripts/demo and the round-trip test: a
// prefix at a lasting place with all ten clients installed, holding the user's
// mail data ("data") or none of it ("empty"). "small" writes fewer messages.
#include <cstdio>
#include <exception>
#include <string>

#include "demo/demo_machine.h"
#include "platform/registry.h"
#include "testkit/testkit.h"

int main(int argc, char** argv) {
    const std::string role = argc >= 4 ? argv[3] : "";
    const bool small = argc == 5 && std::string(argv[4]) == "small";
    if ((argc != 4 && !small) || (role != "data" && role != "empty")) {
        std::fprintf(stderr, "usage: %s PREFIX USER data|empty [small]\n", argv[0]);
        return 2;
    }
    try {
        qb::test::FakeMachine machine(argv[1], argv[2]);
        if (role == "data")
            qb::demo::makeDataMachine(
                machine, small ? qb::demo::kSmallDemoMessages : qb::demo::kDemoMessages);
        else
            qb::demo::makeEmptyMachine(machine);
        qb::platform::flushRegistry();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_demo_machine: %s\n", e.what());
        return 1;
    }
    return 0;
}
