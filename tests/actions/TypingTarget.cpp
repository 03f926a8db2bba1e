// A small X11 application for the desktop-action tests: one text field that reports what it
// receives. Usage: velk-typing-target LOG_FILE. Each change of the field's text appends
// "text: <text>", each letter key pressed with Control appends "control+<letter>" and then
// the selection it left, "selected: <text>". $TYPING_TARGET_NAME, when set, replaces the
// application name (and so the window class): the tests play an unrelated application so.
#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>

namespace {

class RecordingField : public QLineEdit {
public:
    explicit RecordingField(const QString& path) : m_log(path) {
        m_log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
        connect(this, &QLineEdit::textChanged,
                [this](const QString& text) { write(QStringLiteral("text: ") + text); });
    }

    void write(const QString& line) { m_log.write((line + u'\n').toUtf8()); }

protected:
    void keyPressEvent(QKeyEvent* key) override {
        QLineEdit::keyPressEvent(key);
        if (key->modifiers() & Qt::ControlModifier && key->key() >= Qt::Key_A &&
            key->key() <= Qt::Key_Z) {
            write(QStringLiteral("control+") + QChar(u'a' + (key->key() - Qt::Key_A)));
            write(QStringLiteral("selected: ") + selectedText());
        }
    }

private:
    QFile m_log;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (application.arguments().size() != 2) {
        return 2;
    }
    if (qEnvironmentVariableIsSet("TYPING_TARGET_NAME")) {
        QCoreApplication::setApplicationName(qEnvironmentVariable("TYPING_TARGET_NAME"));
    }
    RecordingField field(application.arguments().at(1));
    field.setMinimumWidth(400);
    field.show();
    field.activateWindow();
    field.setFocus();
    field.write(QStringLiteral("ready"));
    return application.exec();
}
