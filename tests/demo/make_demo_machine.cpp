// Creates a demo Windows machine for scripts/demo: a prefix at a lasting place
// with Outlook Express installed, holding mail data ("data") or an identity of
// its own and none of the demo's data ("empty").
#include <cstdio>
#include <exception>
#include <string>

#include "platform/registry.h"
#include "testkit/clients_fixture.h"
#include "testkit/testkit.h"

int main(int argc, char** argv) {
    if (argc != 4 || (std::string(argv[3]) != "data" && std::string(argv[3]) != "empty")) {
        std::fprintf(stderr, "usage: %s PREFIX USER data|empty\n", argv[0]);
        return 2;
    }
    try {
        qb::test::FakeMachine machine(argv[1], argv[2]);
        if (std::string(argv[3]) == "data")
            qb::test::installOutlookExpress(machine);
        else
            qb::test::installOutlookExpress(
                machine, {{"Main Identity", "{6D1C0A52-3B7E-4F19-A2C4-58E9D0B7F3A1}"}});
        qb::platform::flushRegistry();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_demo_machine: %s\n", e.what());
        return 1;
    }
    return 0;
}
