// Files the console writes are chosen in a save dialog that asks before an
// existing file is replaced; files it reads keep the open dialog.
#include <gtest/gtest.h>

#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <fstream>
#include <ostream>
#include <functional>

#include "qt/qt_support.h"

using namespace valdor;
using namespace qtsupport;

namespace {

const FileFilter kReport[] = {{"Text files(*.txt)", "*.txt"}};

// Runs `step` on the next modal window of type T to come up.
template <typename T>
void whenModal(std::function<void(T *)> step) {
    auto *timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, step] {
        if (auto *modal = qobject_cast<T *>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            step(modal);
        }
    });
    timer->start();
}

// Closes a dialog the test failed to answer, so that a fault fails the test
// instead of hanging it.
struct DialogGuard {
    DialogGuard() {
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, [] {
            while (QWidget *modal = QApplication::activeModalWidget()) modal->close();
        });
        timer.start(20000);
    }
    QTimer timer;
};

std::string contents(const std::string &path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Answer {
    QMessageBox::StandardButton button;
    bool chosen;  // the dialog returns the file
};

std::ostream &operator<<(std::ostream &out, const Answer &a) { return out << (a.chosen ? "Yes" : "No"); }

class SaveDialog : public ::testing::TestWithParam<Answer> {};

TEST_P(SaveDialog, AnExistingFileIsReplacedOnlyOnYes) {
    Shown s;
    DialogGuard guard;
    const std::string existing = (s.folder.path() / "report.txt").string();
    std::ofstream(existing) << "earlier report";
    bool saveMode = false, asked = false;
    QString question;
    whenModal<QFileDialog>([&](QFileDialog *dialog) {
        saveMode = dialog->acceptMode() == QFileDialog::AcceptSave;
        // Typed in as the operator does.
        auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        name->setText(QString::fromStdString(existing));
        whenModal<QMessageBox>([&, dialog](QMessageBox *message) {
            asked = true;
            question = message->text();
            message->button(GetParam().button)->click();
            // Still open after a "No": the operator gives up.
            QTimer::singleShot(50, dialog, [dialog] {
                if (dialog->isVisible()) dialog->reject();
            });
        });
        QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);  // as the Save button does
    });
    const auto chosen = s.window->chooseSaveFile(kReport, "*.txt");
    EXPECT_TRUE(saveMode) << "not a save dialog";
    EXPECT_TRUE(asked) << "an existing file was taken without a question";
    EXPECT_TRUE(question.contains(QStringLiteral("report.txt"))) << question.toStdString();
    EXPECT_EQ(chosen.has_value(), GetParam().chosen);
    if (chosen) {
        EXPECT_EQ(*chosen, existing);
    }
    EXPECT_EQ(contents(existing), "earlier report") << "choosing writes nothing";
}

INSTANTIATE_TEST_SUITE_P(Answers, SaveDialog,
                         ::testing::Values(Answer{QMessageBox::Yes, true}, Answer{QMessageBox::No, false}),
                         [](const auto &info) { return info.param.chosen ? "Yes" : "No"; });

TEST(SaveDialogs, ReadingKeepsTheOpenDialog) {
    Shown s;
    DialogGuard guard;
    bool openMode = false;
    whenModal<QFileDialog>([&](QFileDialog *dialog) {
        openMode = dialog->acceptMode() == QFileDialog::AcceptOpen;
        dialog->reject();
    });
    const FileFilter program[] = {{"Download files(*.prg)", "*.prg"}};
    EXPECT_FALSE(s.window->chooseFile(program, "*.prg"));
    EXPECT_TRUE(openMode);
}

}  // namespace
