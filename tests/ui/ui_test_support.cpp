#include "ui_test_support.h"

namespace qb::test {

WhileModal::WhileModal(std::function<bool()> step, int limit)
    : step_(std::move(step)), limit_(limit) {
    timer_.setInterval(0);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        if (done_) return;
        if (++passes_ > limit_ || step_()) {
            done_ = passes_ <= limit_;
            timer_.stop();
        }
    });
    timer_.start();
}

WhileModal::~WhileModal() {
    timer_.stop();
}

void fillCheckList(QListWidget& list, const std::vector<std::string>& names, bool checked) {
    list.clear();
    for (const std::string& n : names) {
        auto* item = new QListWidgetItem(QString::fromStdString(n), &list);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    }
}

void WindowTest::SetUp() {
    AdapterTest::SetUp();
}

}  // namespace qb::test
