// A small X11 application for the desktop-action tests: one text field that reports what it
// receives. Usage: velk-typing-target LOG_FILE. Each change of the field's text appends
// "text: <text>", each key pressed with Control appends "control+<key>", and the selection
// after such a key appends "selected: <text>". $TYPING_TARGET_NAME, when set, replaces the
// application name (and so the window class).
#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>

namespace {

class Recorder : public QObject {
public:
    Recorder(const QString& path, QLineEdit& field) : m_log(path), m_field(field) {
        m_log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
    }

    void write(const QString& line) { m_log.write((line + u'\n').toUtf8()); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->modifiers() & Qt::ControlModifier && key->key() >= Qt::Key_A &&
                key->key() <= Qt::Key_Z) {
                write(QStringLiteral("control+") + QChar(u'a' + (key->key() - Qt::Key_A)));
                QTimer::singleShot(0, this, [this] {
                    write(QStringLiteral("selected: ") + m_field.selectedText());
                });
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QFile m_log;
    QLineEdit& m_field;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (application.arguments().size() != 2) {
        return 2;
    }
    // Another application name gives the window another class: the tests play a second,
    // unrelated application with it.
    if (qEnvironmentVariableIsSet("TYPING_TARGET_NAME")) {
        QCoreApplication::setApplicationName(qEnvironmentVariable("TYPING_TARGET_NAME"));
    }
    QLineEdit field;
    field.setMinimumWidth(400);
    Recorder recorder(application.arguments().at(1), field);
    field.installEventFilter(&recorder);
    QObject::connect(&field, &QLineEdit::textChanged,
                     [&](const QString& text) { recorder.write(QStringLiteral("text: ") + text); });
    field.show();
    field.activateWindow();
    field.setFocus();
    recorder.write(QStringLiteral("ready"));
    return application.exec();
}
