// The kit of the window tests: the adapter tests' two machines, plus acting on
// modal windows while they run (they run their jobs in their own event loops).
#pragma once

#include <QApplication>
#include <QListWidget>
#include <QTimer>
#include <QWidget>

#include <functional>

#include "clients/adapter_test_support.h"

namespace qb::test {

// Runs `step` on every pass of the event loop until it returns true (or `limit`
// passes have gone). The step sees the modal windows that are open then.
class WhileModal {
  public:
    explicit WhileModal(std::function<bool()> step, int limit = 2000000);
    ~WhileModal();
    bool done() const { return done_; }

  private:
    QTimer timer_;
    std::function<bool()> step_;
    int passes_ = 0;
    int limit_;
    bool done_ = false;
};

// The open modal window of class T (nullptr when the top one is another).
template <class T>
T* modal() {
    return qobject_cast<T*>(QApplication::activeModalWidget());
}

// A check list of the windows: one checkable line per name.
void fillCheckList(QListWidget& list, const std::vector<std::string>& names, bool checked = true);

class WindowTest : public AdapterTest {
  protected:
    void SetUp() override;
};

}  // namespace qb::test
