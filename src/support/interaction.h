// How the program talks to the person in front of it: message boxes, questions
// and the message pump. The windows install their own implementation; command-line
// runs and tests use the console one, which never blocks without a terminal.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qb {

enum class MsgIcon { None, Information, Warning, Error, Confirmation };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel };
enum class MsgAnswer { Ok, Cancel, Yes, No, Retry };

class Interaction {
  public:
    virtual ~Interaction() = default;
    // Shows a message box and returns the button pressed.
    virtual MsgAnswer messageBox(std::string_view text, MsgIcon icon, MsgButtons buttons) = 0;
    // Lets pending window messages run, so windows repaint and Abort buttons work
    // during long loops. Nothing to do without windows.
    virtual void processMessages() {}
};

// The implementation in force; the console one until another is installed.
Interaction& interaction();
// Installs `impl` (not owned) and returns the previous one; nullptr restores the console.
Interaction* setInteraction(Interaction* impl);

// Message boxes on stderr. With a terminal on stdin the person answers there;
// without one every question gets its safe answer: Cancel, No, or OK when OK is
// the only button.
class ConsoleInteraction : public Interaction {
  public:
    MsgAnswer messageBox(std::string_view text, MsgIcon icon, MsgButtons buttons) override;
};

// The answer a box gets when nobody can be asked.
MsgAnswer safeAnswer(MsgButtons buttons);

// Records every box and answers from a script (then with the safe answer); for
// tests and for runs that must not ask.
class ScriptedInteraction : public Interaction {
  public:
    struct Box {
        std::string text;
        MsgIcon icon;
        MsgButtons buttons;
    };
    explicit ScriptedInteraction(std::vector<MsgAnswer> answers = {})
        : answers_(std::move(answers)) {}
    MsgAnswer messageBox(std::string_view text, MsgIcon icon, MsgButtons buttons) override;
    void processMessages() override { ++pumps; }

    std::vector<Box> boxes;
    int pumps = 0;

  private:
    std::vector<MsgAnswer> answers_;
    size_t next_ = 0;
};

// Installs an interaction for the lifetime of a scope.
class ScopedInteraction {
  public:
    explicit ScopedInteraction(Interaction& impl) : previous_(setInteraction(&impl)) {}
    ~ScopedInteraction() { setInteraction(previous_); }
    ScopedInteraction(const ScopedInteraction&) = delete;
    ScopedInteraction& operator=(const ScopedInteraction&) = delete;

  private:
    Interaction* previous_;
};

}  // namespace qb
