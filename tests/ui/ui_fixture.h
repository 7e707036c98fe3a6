// Shared pieces of the window tests: a fresh fake machine with the program's
// folder on it, and the program's windows created on it.
#pragma once

#include <QString>
#include <QWidget>
#include <memory>
#include <string>

#include "testkit/testkit.h"

namespace qb::test {

// A machine with an empty registry and an empty program folder
// (C:\Program Files\Quillbox\), made the settings' program folder, and the
// program's windows created on it. FormCreate has not run yet.
class WindowsOnFakeMachine {
  public:
    WindowsOnFakeMachine();
    ~WindowsOnFakeMachine();

    FakeMachine& machine() { return *machine_; }
    static constexpr const char* kProgramFolder = "C:\\Program Files\\Quillbox\\";

  private:
    std::unique_ptr<FakeMachine> machine_;
};

// The widget of `window` named `name`, of type T; fails the test when missing.
template <typename T>
T* child(QWidget& window, const char* name) {
    return window.findChild<T*>(QString::fromLatin1(name));
}

}  // namespace qb::test
