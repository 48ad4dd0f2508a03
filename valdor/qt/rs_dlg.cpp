#include "valdor/qt/rs_dlg.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QShowEvent>
#include <QScrollBar>
#include <QStringDecoder>
#include <QStyle>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>

#include "valdor/console/capture_control.h"
#include "valdor/console/console.h"
#include "valdor/panel/controls.h"
#include "valdor/panel/param_tables.h"
#include "valdor/console/port_detail.h"
#include "valdor/qt/console_layout.h"
#include "valdor/qt/icons.h"
#include "valdor/qt/log_dlg.h"
#include "valdor/panel/session_log.h"
#include "valdor/responses/response_decoder.h"

namespace valdor::qt {

namespace {

constexpr char kTitle[] = "Q9R-BDU <RS232C Interface> Test Program (V5.02)";

// The unit's texts are bytes: UTF-8 where they are valid as such (the
// console's own lines, file names), otherwise one character per byte.
QString fromBytes(std::string_view bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (!utf8.hasError()) return text;
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string toBytes(const QString &text) { return text.toUtf8().toStdString(); }

// How often queued worker lines are applied when nothing else brings them in.
constexpr int kPendingLinesInterval = 16;  // ms

// The push buttons whose clicks go to the console (1001-1031).
constexpr bool isHandlerButton(int id) { return id >= ctl::Exit && id <= ctl::LastBlankButton; }

}  // namespace

// The hand-over waits on its own mutex and condition rather than Qt's
// blocking connection, so that what the window thread wrote is visibly
// ordered before the caller reads it (and ThreadSanitizer can tell).
template <typename F>
auto CRsDlg::onWindowThread(F &&fn) const {
    using Result = std::invoke_result_t<F &>;
    auto *self = const_cast<CRsDlg *>(this);
    if (QThread::currentThread() == thread()) return fn();
    struct Handover {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
    } handover;
    auto finish = [&handover] {
        std::lock_guard lock(handover.mutex);
        handover.finished = true;
        handover.done.notify_one();
    };
    auto wait = [&handover] {
        std::unique_lock lock(handover.mutex);
        handover.done.wait(lock, [&handover] { return handover.finished; });
    };
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(self, [&fn, &finish] { fn(); finish(); }, Qt::QueuedConnection);
        wait();
    } else {
        Result result{};
        QMetaObject::invokeMethod(self, [&fn, &finish, &result] { result = fn(); finish(); }, Qt::QueuedConnection);
        wait();
        return result;
    }
}

CRsDlg::CRsDlg(QWidget *parent)
    : QDialog(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      form_(this, DialogUnits()) {
    setWindowTitle(QString::fromLatin1(kTitle));
    setWindowIcon(dispenserIcon());
    setFont(controlFont());
    build();
    fillLists();
    connectButtons();
    mirrorCheckBoxes();
    setFixedSize(form_.units().x(kConsoleWidth), form_.units().y(kConsoleHeight));

    // Worker lines show within a frame or so even when no hand-over comes.
    pendingTimer_ = new QTimer(this);
    pendingTimer_->setInterval(kPendingLinesInterval);
    connect(pendingTimer_, &QTimer::timeout, this, [this] { applyPendingLines(); });
    pendingTimer_->start();
    // The operator's change of 1241 comes after every line issued before it.
    control(ctl::ShowMessages)->installEventFilter(this);

    console_ = std::make_unique<Console>(*this, *this);
    console_->initialise();
}

CRsDlg::~CRsDlg() {
    // The worker must be gone before the controls it writes are.
    if (!console_->exited()) {
        closing_ = true;
        console_->exit();
    }
    console_.reset();
    applyPendingLines();  // the session log sees every line
    delete device_;
}

void CRsDlg::build() {
    buildConsoleControls(form_);

    messages_ = new QPlainTextEdit(this);
    messages_->setReadOnly(true);
    messages_->setLineWrapMode(QPlainTextEdit::NoWrap);
    messages_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    messages_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    messages_->setUndoRedoEnabled(false);
    form_.place(messages_, ctl::MessageBox, kMessageBoxPlace.x, kMessageBoxPlace.y, kMessageBoxPlace.w,
                kMessageBoxPlace.h);
    // The box's own menu plus the line capture.
    messages_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(messages_, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        std::unique_ptr<QMenu> menu(messages_->createStandardContextMenu(at));
        menu->addSeparator();
        const std::string current = capturePath();
        QAction *capture = menu->addAction(
            current.empty() ? QStringLiteral("Capture Line to File...")
                            : QStringLiteral("Stop Line Capture (%1)").arg(QString::fromStdString(current)));
        if (menu->exec(messages_->viewport()->mapToGlobal(at)) != capture) return;
        if (!current.empty()) {
            stopCapture();
            return;
        }
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Capture Line to File"),
                                                          QStringLiteral("line.rslcap"),
                                                          QStringLiteral("Line captures (*.rslcap);;All files (*)"),
                                                          nullptr, QFileDialog::DontUseNativeDialog);
        if (path.isEmpty()) return;
        if (const auto started = startCapture(path.toStdString()); !started) {
            char line[64];
            std::snprintf(line, sizeof line, "CAPTURE FILE OPEN ERROR CODE=0x%08x",
                          static_cast<unsigned>(started.failure().error));
            appendMessage(line);
        }
    });

    progress_ = new QProgressBar(this);
    progress_->setTextVisible(false);
    progress_->setRange(0, 100);
    progress_->setValue(0);
    form_.place(progress_, ctl::ProgressBar, kProgressPlace.x, kProgressPlace.y, kProgressPlace.w,
                kProgressPlace.h);

    auto *image = new QLabel(this);
    form_.place(image, 0, kImagePlace.x, kImagePlace.y, kImagePlace.w, kImagePlace.h);
    image->setPixmap(dispenserPixmap(std::min(image->width(), image->height())));
    image->setAlignment(Qt::AlignCenter);

    static_cast<QLineEdit *>(control(ctl::MessageText))->setMaxLength(ctl::MessageTextMax);

    transport_ = new QButtonGroup(this);
    retrieval_ = new QButtonGroup(this);
    for (int id = ctl::TransportFirst; id <= ctl::TransportLast; ++id)
        transport_->addButton(static_cast<QAbstractButton *>(control(id)), id);
    for (int id = ctl::RetrievalFirst; id <= ctl::RetrievalLast; ++id)
        retrieval_->addButton(static_cast<QAbstractButton *>(control(id)), id);
}

void CRsDlg::fillLists() {
    for (int id : allCombos()) {
        auto *combo = qobject_cast<QComboBox *>(control(id));
        const ParamTable *table = tableFor(id);
        if (!combo || !table) continue;
        for (const auto &item : table->items) combo->addItem(QString::fromLatin1(item.text));
        combo->setCurrentIndex(-1);
    }
    control(ctl::ComPort)->installEventFilter(this);
}

void CRsDlg::connectButtons() {
    for (auto [id, widget] : form_.controls()) {
        auto *button = qobject_cast<QPushButton *>(widget);
        if (!button || !isHandlerButton(id)) continue;
        connect(button, &QPushButton::clicked, this, [this, id = id] { onButton(id); });
    }
}

void CRsDlg::onButton(int id) {
    applyPendingLines();
    QWidget *button = control(id);
    if (button && button->isEnabled()) console_->press(id);
}

void CRsDlg::ShowResponse(std::span<const uint8_t> text) { showResponse(*this, text); }

// ---- Panel ---------------------------------------------------------------

std::optional<int> CRsDlg::selection(int combo) const {
    return onWindowThread([&]() -> std::optional<int> {
        auto *box = qobject_cast<QComboBox *>(control(combo));
        if (!box || box->currentIndex() < 0) return std::nullopt;
        return box->currentIndex();
    });
}

void CRsDlg::setSelection(int combo, std::optional<int> position) {
    onWindowThread([&] {
        auto *box = qobject_cast<QComboBox *>(control(combo));
        if (!box) return;
        bool valid = position && *position >= 0 && *position < box->count();
        box->setCurrentIndex(valid ? *position : -1);
    });
}

QButtonGroup *CRsDlg::radioGroupOf(int id) const {
    if (id >= ctl::TransportFirst && id <= ctl::TransportLast) return transport_;
    if (id >= ctl::RetrievalFirst && id <= ctl::RetrievalLast) return retrieval_;
    return nullptr;
}

// Answered from the mirror, which the window thread keeps as each box
// changes, so reading a box costs the worker no hand-over.
bool CRsDlg::checked(int id) const {
    std::lock_guard lock(checkedMutex_);
    auto it = checkedMirror_.find(id);
    return it != checkedMirror_.end() && it->second;
}

void CRsDlg::mirrorCheckBoxes() {
    for (auto [id, widget] : form_.controls()) {
        auto *button = qobject_cast<QAbstractButton *>(widget);
        if (!button || !button->isCheckable()) continue;
        {
            std::lock_guard lock(checkedMutex_);
            checkedMirror_[id] = button->isChecked();
        }
        connect(button, &QAbstractButton::toggled, this, [this, id = id](bool on) {
            std::lock_guard lock(checkedMutex_);
            checkedMirror_[id] = on;
        });
    }
}

void CRsDlg::setChecked(int id, bool on) {
    onWindowThread([&] {
        if (id == ctl::ShowMessages) applyPendingLines();
        auto *button = qobject_cast<QAbstractButton *>(control(id));
        if (!button || !button->isCheckable()) return;
        QButtonGroup *group = radioGroupOf(id);
        // An exclusive group refuses to clear its checked member.
        if (group && !on) group->setExclusive(false);
        button->setChecked(on);
        if (group && !on) group->setExclusive(true);
    });
}

std::string CRsDlg::text(int id) const {
    return onWindowThread([&]() -> std::string {
        if (id == ctl::MessageBox) {
            const_cast<CRsDlg *>(this)->applyPendingLines();
            return messageText();
        }
        if (ctl::isDeviceControl(id)) return device_ ? toBytes(device_->fieldText(id)) : std::string();
        QWidget *widget = control(id);
        if (auto *field = qobject_cast<QLineEdit *>(widget)) return toBytes(field->text());
        if (auto *label = qobject_cast<QLabel *>(widget)) return toBytes(label->text());
        if (auto *button = qobject_cast<QAbstractButton *>(widget)) return toBytes(button->text());
        return {};
    });
}

void CRsDlg::setText(int id, std::string_view text) {
    onWindowThread([&] {
        QString value = fromBytes(text);
        if (ctl::isDeviceControl(id)) {
            if (device_) device_->setFieldText(id, value);
            return;
        }
        if (auto *field = qobject_cast<QLineEdit *>(control(id))) {
            if (field->text() == value && field->cursorPosition() == 0) return;  // as it is: no repaint
            field->setText(value);  // the editable field keeps its 40
            field->setCursorPosition(0);  // show a long text from its start
        }
    });
}

bool CRsDlg::enabled(int id) const {
    return onWindowThread([&] {
        QWidget *widget = ctl::isDeviceControl(id) ? (device_ ? device_->control(id) : nullptr) : control(id);
        return widget && widget->isEnabled();
    });
}

void CRsDlg::setEnabled(int id, bool on) {
    onWindowThread([&] {
        if (QWidget *widget = control(id)) widget->setEnabled(on);
    });
}

void CRsDlg::commitMessageText() {
    onWindowThread([&] {
        auto *field = static_cast<QLineEdit *>(control(ctl::MessageText));
        // The unit takes one byte per character.
        committed_ = field->text().left(ctl::MessageTextMax).toLatin1().toStdString();
    });
}

std::string CRsDlg::committedMessageText() const {
    return onWindowThread([&] { return committed_; });
}

void CRsDlg::apply(std::span<const PanelWrite> writes) {
    onWindowThread([&] { applyEach(*this, writes); });
}

ParameterReading CRsDlg::readParameters() const {
    return onWindowThread([&] { return readEach(*this); });
}

// From another thread the line joins the queue and costs no hand-over; on
// this thread the queue goes first, so lines keep the order they were
// issued in.
void CRsDlg::appendMessage(std::string_view line) {
    if (QThread::currentThread() != thread()) {
        std::lock_guard lock(pendingMutex_);
        pendingLines_.emplace_back(line);
        return;
    }
    applyPendingLines();
    const std::string one(line);
    showLines(std::span<const std::string>(&one, 1));
}

void CRsDlg::applyPendingLines() {
    // Showing the batch brings in no line queued after it: it reads 1241
    // directly rather than through a hand-over.
    std::vector<std::string> lines;
    {
        std::lock_guard lock(pendingMutex_);
        if (pendingLines_.empty()) return;
        lines.swap(pendingLines_);
    }
    showLines(lines);
}

// Judged against 1241 as it is now, on this thread, as one synchronous
// append per line would be: 1241 cannot change in the middle of a batch.
// The batch goes in as one edit, so the box lays out and scrolls once.
void CRsDlg::showLines(std::span<const std::string> lines) {
    for (const std::string &line : lines) sessionLog().line(line);
    auto *show = qobject_cast<QAbstractButton *>(control(ctl::ShowMessages));
    if (!show || !show->isChecked() || lines.empty()) return;
    size_t drop = 0;
    for (const std::string &line : lines) drop += messageBudget_.add(line);
    // The budget may drop lines of this very batch once the box's go.
    const size_t held = static_cast<size_t>(messageLines_);
    size_t first = 0;
    if (drop >= held) {
        first = drop - held;
        dropOldestMessages(held);
    } else {
        dropOldestMessages(drop);
    }
    QTextCursor cursor(messages_->document());
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    for (size_t i = first; i < lines.size(); ++i) {
        if (messageLines_ > 0) cursor.insertBlock();
        cursor.insertText(fromBytes(lines[i]));
        ++messageLines_;
    }
    cursor.endEditBlock();
    QScrollBar *bar = messages_->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void CRsDlg::clearMessages() {
    onWindowThread([&] {
        applyPendingLines();  // cleared with the rest, as they would have been
        messages_->clear();
        messageLines_ = 0;
        messageBudget_.clear();
    });
}

void CRsDlg::dropOldestMessages(size_t lines) {
    if (lines == 0) return;
    if (lines >= static_cast<size_t>(messageLines_)) {
        messages_->clear();
        messageLines_ = 0;
        return;
    }
    // Only the leading blocks go: the layout drops them without touching the
    // rest of the document, as a block-count limit would.
    QTextCursor cursor(messages_->document());
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, static_cast<int>(lines));
    cursor.removeSelectedText();
    messageLines_ -= static_cast<int>(lines);
}

std::string CRsDlg::messageText() const {
    std::string all;
    QTextBlock block = messages_->document()->firstBlock();
    for (int i = 0; i < messageLines_ && block.isValid(); ++i, block = block.next()) {
        all += toBytes(block.text());
        all += "\r\n";
    }
    return all;
}

void CRsDlg::setProgressRange(int low, int high) {
    onWindowThread([&] { progress_->setRange(low, std::max(low, high)); });
}

void CRsDlg::setProgressPosition(int position) {
    onWindowThread([&] { progress_->setValue(std::clamp(position, progress_->minimum(), progress_->maximum())); });
}

void CRsDlg::createDeviceWindow() {
    onWindowThread([&] {
        if (device_) return;
        device_ = new CLogDlg(*this, this);
        device_->setAttribute(Qt::WA_ShowWithoutActivating);
        devicePlaced_ = false;
    });
}

void CRsDlg::destroyDeviceWindow() {
    onWindowThread([&] { delete device_; });
}

bool CRsDlg::deviceWindowExists() const {
    return onWindowThread([&] { return !device_.isNull(); });
}

void CRsDlg::showDeviceWindow() {
    onWindowThread([&] {
        if (!device_) return;
        if (!devicePlaced_) placeDeviceWindow();
        device_->show();
    });
}

std::vector<int> CRsDlg::commandButtons() {
    // The right-hand column, then the three rows of the "Command" group.
    std::vector<int> ids = {ctl::Exit, ctl::Clear, ctl::LoadData, ctl::SaveData, ctl::DownLoad, ctl::LogAllClear, ctl::LogWithMsg};
    for (int id = ctl::StatusRead; id <= ctl::LastBlankButton; ++id) ids.push_back(id);
    return ids;
}

// Beside the console when the screen has room, so neither hides the other;
// else over the console but clear of its buttons, scrolling there when it
// is too tall for the room; else where the desktop puts it.
void CRsDlg::placeDeviceWindow() {
    devicePlaced_ = true;
    QScreen *screen = this->screen();
    if (!screen || !isVisible()) return;
    const QRect free = screen->availableGeometry();
    const QRect frame = frameGeometry();
    // This desktop's title bar and borders, as the console has them.
    const QSize outer = device_->size() + (frame.size() - size());
    QRect buttons;
    for (int id : commandButtons())
        if (QWidget *button = control(id))
            buttons |= QRect(button->mapToGlobal(QPoint(0, 0)), button->size());
    constexpr int kGap = 8;
    const QPoint candidates[] = {
        {frame.right() + 1 + kGap, frame.top()},
        {frame.left() - kGap - outer.width(), frame.top()},
        {frame.left(), frame.bottom() + 1 + kGap},
        {free.right() + 1 - outer.width(), buttons.bottom() + 1 + kGap},
        {free.left(), buttons.bottom() + 1 + kGap},
    };
    for (const QPoint &at : candidates) {
        const QRect place(at, outer);
        if (free.contains(place) && !place.intersects(buttons)) {
            device_->move(at);
            return;
        }
    }
    // No room for the whole window (a laptop screen): it scrolls, in the
    // room below the buttons, when that room is worth having.
    const QSize decoration = outer - device_->size();
    const QRect below(free.left(), buttons.bottom() + 1 + kGap, free.width(), free.bottom() - buttons.bottom() - kGap);
    const QSize room = below.size() - decoration;
    if (room.height() < device_->height() / 3 || room.width() < device_->width() / 2) return;
    device_->fitInto(room);
    device_->move(free.right() + 1 - (device_->width() + decoration.width()), below.top());
}

// On a screen smaller than the window (a 1366 x 768 laptop at 125 %) the
// controls move, as they are, into a scroll area the size of the screen, so
// that every one of them can be reached.  The offscreen platform draws
// nowhere and has no screen to fit.
void CRsDlg::fitToScreen() {
    fitted_ = true;
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) return;
    QScreen *screen = this->screen();
    if (!screen) return;
    const QRect free = screen->availableGeometry();
    QSize decoration = frameGeometry().size() - size();
    if (decoration.width() <= 0 && decoration.height() <= 0) decoration = QSize(8, 32);  // not yet framed
    const QSize room = free.size() - decoration;
    const QSize full = size();
    if (full.width() <= room.width() && full.height() <= room.height()) return;

    scroll_ = scrollWithin(this, room);
    const QPoint at(std::clamp(frameGeometry().left(), free.left(), free.right() - width() - decoration.width() + 1),
                    std::clamp(frameGeometry().top(), free.top(), free.bottom() - height() - decoration.height() + 1));
    move(at);
}

void CRsDlg::showEvent(QShowEvent *event) {
    if (!fitted_) fitToScreen();
    QDialog::showEvent(event);
}

QString CRsDlg::comPortToolTip() const {
    const auto position = selection(ctl::ComPort);
    const ParamTable *ports = tableFor(ctl::ComPort);
    if (!position || !ports || *position < 0 || static_cast<size_t>(*position) >= ports->items.size())
        return {};
    const int com = ports->items[static_cast<size_t>(*position)].value;
    return QString::fromStdString(comPortDescription(com));
}

// The COM list's tool tip is worked out when it is asked for: adapters come
// and go while the window is open.
bool CRsDlg::eventFilter(QObject *watched, QEvent *event) {
    if (watched == control(ctl::ShowMessages)) {
        applyPendingLines();
        return QDialog::eventFilter(watched, event);
    }
    if (event->type() == QEvent::ToolTip && watched == control(ctl::ComPort))
        static_cast<QWidget *>(watched)->setToolTip(comPortToolTip());
    return QDialog::eventFilter(watched, event);
}

// ---- Host ----------------------------------------------------------------

std::optional<std::string> CRsDlg::chooseFile(std::span<const FileFilter> filters,
                                              std::string_view initialName) {
    if (chooser_) return chooser_(filters, initialName);
    return runFileDialog(filters, initialName, false);
}

std::optional<std::string> CRsDlg::chooseSaveFile(std::span<const FileFilter> filters,
                                                  std::string_view initialName) {
    if (chooser_) return chooser_(filters, initialName);
    return runFileDialog(filters, initialName, true);
}

// A save dialog asks before it lets an existing file be chosen.
std::optional<std::string> CRsDlg::runFileDialog(std::span<const FileFilter> filters,
                                                 std::string_view initialName, bool save) {
    QStringList names;
    for (const auto &filter : filters) {
        QString name = QString::fromStdString(filter.description);
        // Qt reads the patterns from the parentheses.
        if (!name.contains(QString::fromStdString(filter.pattern)))
            name += QStringLiteral(" (%1)").arg(QString::fromStdString(filter.pattern));
        names << name;
    }
    QFileDialog dialog(this);
    dialog.setFileMode(QFileDialog::AnyFile);  // a new name is accepted too
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilters(names);
    dialog.selectFile(fromBytes(initialName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return QFile::encodeName(dialog.selectedFiles().first()).toStdString();
}

void CRsDlg::runBlocking(const std::function<void()> &call) {
    if (QThread::currentThread() != thread()) {
        call();
        return;
    }
    // The call runs on a helper while this thread goes on painting and
    // serving the worker's hand-overs, so a worker that waits on the window
    // while the call waits on the worker cannot lock both up.  Clicks and
    // keys wait until the call has returned.
    ++blocking_;
    runOnHelper(call, QEventLoop::ExcludeUserInputEvents);
    // The window manager's close is not user input and may arrive meanwhile;
    // it was held back so that Exit never runs in the middle of a handler.
    if (--blocking_ == 0 && closePending_) {
        closePending_ = false;
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    }
}

// As runBlocking, but clicks and keys are taken meanwhile: the console has
// disabled what must wait, and Exit (or the frame's close) cuts the call
// short through the console.
void CRsDlg::runResponsive(const std::function<void()> &call) {
    if (QThread::currentThread() != thread()) {
        call();
        return;
    }
    runOnHelper(call, QEventLoop::AllEvents);
}

void CRsDlg::runOnHelper(const std::function<void()> &call, QEventLoop::ProcessEventsFlags flags) {
    QEventLoop loop;
    std::thread helper([&] {
        call();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec(flags);
    helper.join();
    applyPendingLines();  // what the call issued shows before anything goes on
}

void CRsDlg::closeWindow() {
    closing_ = true;
    done(QDialog::Accepted);
}

// ---- Keyboard and closing ------------------------------------------------

void CRsDlg::keyPressEvent(QKeyEvent *event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape: event->accept(); return;
        default: QDialog::keyPressEvent(event);
    }
}

// Escape and other dialog dismissals do not end the console; Exit does.
void CRsDlg::reject() {}

void CRsDlg::closeEvent(QCloseEvent *event) {
    if (closing_) {
        event->accept();
        return;
    }
    // The frame's close box behaves as Exit.
    event->ignore();
    applyPendingLines();
    if (blocking_ > 0) {
        closePending_ = true;
        return;
    }
    console_->exit();
}

}  // namespace valdor::qt
