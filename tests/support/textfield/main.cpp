// A real text field for desktop tests. Reads one JSON command per line on
// standard input and answers each with one JSON line on standard output:
//   {"do":"state"}                      → {"text":…, "cursor":n, "active":bool}
//   {"do":"set","text":…,"cursor":n}    → the state afterwards
//   {"do":"activate"}                   → raises the window and asks for focus
//   {"do":"copy","text":…,"png":base64} → puts text (and an image) on the clipboard
//   {"do":"clipboard"}                  → {"formats":[…], "text":…, "imageWidth":n}
//   {"do":"grab"}, {"do":"ungrab"}      → holds or lets go of the whole keyboard
// With --terminal it pastes on Ctrl+Shift+V and ignores Ctrl+V, as terminals
// do; with --password it shows bullets, as a password field; --class NAME
// sets its window class (its app id on Wayland). With --report-changes each
// change of the text is also written as a line of its own, stamped with the
// monotonic clock at the change: {"changed":…, "at":nanoseconds}.

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QSocketNotifier>

#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace {

void writeLine(const QJsonObject& object)
{
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    fwrite(line.constData(), 1, size_t(line.size()), stdout);
    fflush(stdout);
}

class TerminalKeys : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride)
            return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_V)
            return false;
        const Qt::KeyboardModifiers modifiers = key->modifiers();
        if (modifiers == (Qt::ControlModifier | Qt::ShiftModifier)) {
            if (event->type() == QEvent::KeyPress)
                static_cast<QLineEdit*>(watched)->paste();
            event->accept();
            return true;
        }
        if (modifiers == Qt::ControlModifier) {
            event->accept();
            return true;
        }
        return false;
    }
};

class Field
{
public:
    Field()
    {
        m_edit.setWindowTitle(QStringLiteral("Vell test field"));
        m_edit.resize(400, 40);
        m_edit.show();
        m_edit.activateWindow();
    }

    QLineEdit& edit() { return m_edit; }

    QJsonObject handle(const QJsonObject& command)
    {
        const QString action = command.value(QStringLiteral("do")).toString();
        if (action == u"set") {
            m_edit.setText(command.value(QStringLiteral("text")).toString());
            m_edit.setCursorPosition(command.value(QStringLiteral("cursor")).toInt(int(m_edit.text().size())));
        } else if (action == u"activate") {
            m_edit.raise();
            m_edit.activateWindow();
        } else if (action == u"copy") {
            auto* data = new QMimeData;
            data->setText(command.value(QStringLiteral("text")).toString());
            const QByteArray png = QByteArray::fromBase64(command.value(QStringLiteral("png")).toString().toLatin1());
            if (!png.isEmpty())
                data->setImageData(QImage::fromData(png, "PNG"));
            QGuiApplication::clipboard()->setMimeData(data);
        } else if (action == u"clipboard") {
            const QMimeData* data = QGuiApplication::clipboard()->mimeData();
            QJsonObject answer;
            answer.insert(QStringLiteral("formats"),
                          QJsonArray::fromStringList(data ? data->formats() : QStringList()));
            answer.insert(QStringLiteral("text"), data ? data->text() : QString());
            const QImage image = data ? qvariant_cast<QImage>(data->imageData()) : QImage();
            answer.insert(QStringLiteral("imageWidth"), image.width());
            return answer;
        } else if (action == u"grab") {
            m_edit.grabKeyboard();
        } else if (action == u"ungrab") {
            m_edit.releaseKeyboard();
        }
        return state();
    }

private:
    QJsonObject state() const
    {
        return {{QStringLiteral("text"), m_edit.text()},
                {QStringLiteral("cursor"), m_edit.cursorPosition()},
                {QStringLiteral("active"), m_edit.isActiveWindow()}};
    }

    QLineEdit m_edit;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const qsizetype classAt = arguments.indexOf(QStringLiteral("--class"));
    QCoreApplication::setApplicationName(
        classAt > 0 && classAt + 1 < arguments.size() ? arguments[classAt + 1] : QStringLiteral("vell-textfield"));
    // Wayland's counterpart of the window class is the app id.
    QGuiApplication::setDesktopFileName(QCoreApplication::applicationName());
    Field field;
    TerminalKeys terminalKeys;
    if (arguments.contains(QStringLiteral("--terminal")))
        field.edit().installEventFilter(&terminalKeys);
    if (arguments.contains(QStringLiteral("--password")))
        field.edit().setEchoMode(QLineEdit::Password);
    if (arguments.contains(QStringLiteral("--report-changes")))
        QObject::connect(&field.edit(), &QLineEdit::textChanged, &application, [](const QString& text) {
            const auto now = std::chrono::steady_clock::now().time_since_epoch();
            writeLine({{QStringLiteral("changed"), text},
                       {QStringLiteral("at"), double(std::chrono::nanoseconds(now).count())}});
        });

    QByteArray pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &application, [&] {
        char buffer[4096];
        const ssize_t count = read(STDIN_FILENO, buffer, sizeof buffer);
        if (count <= 0) {
            QCoreApplication::quit();
            return;
        }
        pending.append(buffer, count);
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QJsonObject command = QJsonDocument::fromJson(pending.left(end)).object();
            pending.remove(0, end + 1);
            writeLine(field.handle(command));
        }
    });
    return QApplication::exec();
}
