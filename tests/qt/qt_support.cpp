#include "qt/qt_support.h"

#include <QStyleFactory>
#include <gtest/gtest.h>
#include <unistd.h>

#include "valdor/qt/dialog_units.h"

namespace qtsupport {

namespace {

// One application object for the whole program, as in the console itself.
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "test_qt";
        static char *argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QApplication::setFont(valdor::qt::controlFont());
    }
    void TearDown() override { delete app_; }

private:
    QApplication *app_ = nullptr;
};

[[maybe_unused]] ::testing::Environment *const environment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

std::vector<std::string> lines(const valdor::qt::CRsDlg &window) {
    std::string all = window.text(valdor::ctl::MessageBox);
    std::vector<std::string> out;
    size_t at = 0;
    while (at < all.size()) {
        size_t end = all.find("\r\n", at);
        if (end == std::string::npos) {
            out.push_back(all.substr(at) + "<no line end>");
            break;
        }
        out.push_back(all.substr(at, end - at));
        at = end + 2;
    }
    return out;
}

void click(valdor::qt::CRsDlg &window, int id) {
    QWidget *widget = window.control(id);
    ASSERT_NE(widget, nullptr) << "no control " << id;
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, QPoint(widget->width() / 2, widget->height() / 2));
}

ScratchFolder::ScratchFolder() {
    previous_ = std::filesystem::current_path();
    path_ = std::filesystem::temp_directory_path() /
            ("valdor-qt-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(path_);
    std::filesystem::current_path(path_);
}

ScratchFolder::~ScratchFolder() {
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(path_);
}

Shown::Shown() : window(std::make_unique<valdor::qt::CRsDlg>()) {
    window->show();
    (void)QTest::qWaitForWindowExposed(window.get());
}

Shown::~Shown() { window.reset(); }

}  // namespace qtsupport
