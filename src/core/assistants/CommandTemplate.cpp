#include "core/assistants/CommandTemplate.h"

#include <QList>
#include <QStringView>

#include <algorithm>
#include <initializer_list>
#include <utility>

namespace {

const QString kPlaceholder = QStringLiteral("{prompt}");

const QString kQuotedError = QStringLiteral(
    "Place {prompt} outside quotes and without a backslash. VELK supplies the quotes.");
const QString kOpenQuoteError = QStringLiteral("Close the quotation mark in this command.");
const QString kOpenExpansionError =
    QStringLiteral("Close the $(…), ${…}, `…` or (( … )) in this command.");
const QString kDollarError =
    QStringLiteral("Remove the $ before {prompt}: after it the shell would read the task as code.");
const QString kExpansionError = QStringLiteral(
    "Place {prompt} outside $(…), ${…} and `…`. VELK passes the task as one word of the command.");
const QString kArithmeticError = QStringLiteral(
    "Place {prompt} outside $(( … )), (( … )), $[ … ], let and repeat: arithmetic runs the task "
    "as code.");
const QString kHeredocError = QStringLiteral(
    "Place {prompt} outside here-documents (<<): their text is expanded, so the task would run "
    "as code.");
const QString kCommentError = QStringLiteral("Place {prompt} before the # that starts a comment.");
const QString kCommandWordError =
    QStringLiteral("Put the tool’s name first: {prompt} cannot be the command itself.");
const QString kRedirectionError =
    QStringLiteral("Place {prompt} as an argument, not as the file of a redirection (<, >).");
const QString kGlueError = QStringLiteral(
    "Only plain text such as --task= may touch {prompt}. The shell would expand * ? [ ] { } ( ) "
    "~ ^ # ! $ or a leading = next to it.");

QString codeCommandError(const QString& command) {
    return command + QStringLiteral(
                         " runs its arguments as shell code. Give {prompt} to a tool that reads "
                         "it as text.");
}

QString interpreterWarning(const QString& command) {
    return command + QStringLiteral(
                         " can run what it receives as a program. Check that it reads {prompt} "
                         "only as text.");
}

bool isOneOf(QStringView word, std::initializer_list<const char16_t*> words) {
    return std::any_of(words.begin(), words.end(), [word](const char16_t* candidate) {
        return word == QStringView(candidate);
    });
}

// Words at the start of a command after which the command word is still to come: reserved
// words and commands that run the command named by their next word.
bool isPrecommand(QStringView word) {
    return isOneOf(
        word, {u"if",     u"then",   u"else",      u"elif",    u"do",      u"while",  u"until",
               u"!",      u"{",      u"}",         u"fi",      u"done",    u"esac",   u"time",
               u"coproc", u"noglob", u"nocorrect", u"command", u"builtin", u"exec",   u"-",
               u"nohup",  u"env",    u"sudo",      u"doas",    u"nice",    u"setsid", u"stdbuf"});
}

bool isShell(QStringView name) {
    return isOneOf(name, {u"sh", u"bash", u"zsh", u"dash", u"ksh", u"mksh", u"yash", u"fish",
                          u"ash", u"csh", u"tcsh", u"busybox"});
}

// Programs that can run their arguments or standard input as a program of some language,
// or hand them to a shell elsewhere. A version suffix is ignored: python3.11 is python.
bool isInterpreter(QStringView name) {
    qsizetype end = name.size();
    while (end > 1 && (name[end - 1].isDigit() || name[end - 1] == u'.')) {
        --end;
    }
    const QStringView base = name.first(end);
    return isShell(base) ||
           isOneOf(base,
                   {u"python",    u"pypy",  u"node", u"nodejs", u"deno",    u"bun",    u"perl",
                    u"ruby",      u"php",   u"lua",  u"luajit", u"tclsh",   u"wish",   u"Rscript",
                    u"osascript", u"awk",   u"gawk", u"mawk",   u"nawk",    u"sed",    u"ssh",
                    u"su",        u"xargs", u"find", u"watch",  u"timeout", u"script", u"expect"});
}

QString baseName(const QString& path) {
    return path.sliced(path.lastIndexOf(u'/') + 1);
}

// The name of a command word that starts with an expansion but ends in a plain file name
// (`"$HOME"/bin/tool`), or nothing when the name itself comes from an expansion (`$SHELL`).
QString knownTail(QStringView raw) {
    QString tail = raw.sliced(raw.lastIndexOf(u'/') + 1).toString();
    tail.remove(u'"').remove(u'\'');
    const bool plain = !tail.isEmpty() && std::all_of(tail.cbegin(), tail.cend(), [](QChar c) {
        return c.isLetterOrNumber() || QStringView(u"._+-").contains(c);
    });
    return plain ? tail : QString();
}

// An option word that carries a shell's -c, alone or in a cluster such as -lc.
bool isCommandOption(QStringView word) {
    if (word.size() < 2 || word[0] != u'-' || word[1] == u'-') {
        return false;
    }
    for (const QChar c : word.sliced(1)) {
        if (!(c >= u'a' && c <= u'z') && !(c >= u'A' && c <= u'Z')) {
            return false;
        }
    }
    return word.contains(u'c');
}

// Characters that make an unquoted word more than plain text: expansions, globs and
// their qualifiers, history and brace expansion.
bool isSpecial(QChar c) {
    return QStringView(u"$`*?[]{}()~^#!").contains(c);
}

// Contexts that can nest inside a command line; the bottom level, the command itself, is
// handled apart.
enum class Frame : char {
    SingleQuote,
    AnsiQuote,  // $'…'
    DoubleQuote,
    Backquote,
    Substitution,  // $(…), <(…), >(…)
    Parameter,     // ${…}
    Arithmetic,    // $((…)), ((…))
    Bracket,       // $[…]
};

struct Open {
    Frame frame;
    int depth = 0;  // open parentheses, braces or brackets, the opening one included
};

// The word being read at the command level.
struct Word {
    bool active = false;
    bool hasPlaceholder = false;
    bool plain = true;         // no unquoted special character outside placeholders
    bool literalKnown = true;  // no expansion: `literal` is what the command will see
    bool quoted = false;       // some part was quoted or escaped
    bool identifierSoFar = true;
    bool assignment = false;  // NAME=… or NAME+=…
    int parentheses = 0;      // a glob group or qualifier still open inside the word
    qsizetype start = 0;      // where the word begins in the template
    QString literal;
};

enum class Redirection : char { None, File, HereString };

// Words at the start of a loop or a function definition that are no command.
enum class Header : char { None, Loop, FunctionName };

struct Heredoc {
    QString delimiter;
    bool stripsTabs = false;
};

class Reader {
public:
    explicit Reader(QStringView text) : m_text(text) {}

    CommandTemplate::Review read() {
        while (m_index < m_text.size()) {
            const std::optional<QString> error = m_open.isEmpty() ? commandStep() : nestedStep();
            if (error) {
                return {error, std::nullopt};
            }
        }
        if (!m_open.isEmpty()) {
            const Frame innermost = m_open.last().frame;
            const bool quote = innermost == Frame::SingleQuote || innermost == Frame::AnsiQuote ||
                               innermost == Frame::DoubleQuote;
            return {quote ? kOpenQuoteError : kOpenExpansionError, std::nullopt};
        }
        if (auto error = finishWord()) {
            return {error, std::nullopt};
        }
        if (auto error = endCommand(false)) {
            return {error, std::nullopt};
        }
        return {std::nullopt, m_warning};
    }

private:
    bool atPlaceholder(qsizetype offset = 0) const {
        return m_text.sliced(std::min(m_index + offset, m_text.size())).startsWith(kPlaceholder);
    }
    bool ahead(QStringView what, qsizetype offset = 0) const {
        return m_text.sliced(std::min(m_index + offset, m_text.size())).startsWith(what);
    }
    void push(Frame frame, int depth, qsizetype length) {
        m_open.append(Open{frame, depth});
        m_index += length;
    }

    // A $ where the shell expands: refuses a placeholder right after it, opens what it
    // starts and says whether that is an expansion rather than a quote.
    std::optional<QString> dollar(bool quotesOpen, bool* expands) {
        *expands = true;
        if (atPlaceholder(1)) {
            return kDollarError;
        }
        if (ahead(u"$((")) {
            push(Frame::Arithmetic, 2, 3);
        } else if (ahead(u"$(")) {
            push(Frame::Substitution, 1, 2);
        } else if (ahead(u"${")) {
            push(Frame::Parameter, 1, 2);
        } else if (ahead(u"$[")) {
            push(Frame::Bracket, 1, 2);
        } else if (quotesOpen && ahead(u"$'")) {
            *expands = false;
            push(Frame::AnsiQuote, 0, 2);
        } else if (quotesOpen && ahead(u"$\"")) {
            *expands = false;
            push(Frame::DoubleQuote, 0, 2);
        } else {
            ++m_index;
        }
        return std::nullopt;
    }

    // One step inside a quote or an expansion.
    std::optional<QString> nestedStep() {
        Open& open = m_open.last();
        const QChar c = m_text[m_index];
        // Text read inside a quote that belongs directly to the command-level word.
        const bool wordText = m_open.size() == 1 &&
                              (open.frame == Frame::SingleQuote || open.frame == Frame::AnsiQuote ||
                               open.frame == Frame::DoubleQuote);
        switch (open.frame) {
            case Frame::SingleQuote:
                if (atPlaceholder()) {
                    return kQuotedError;
                }
                if (c == u'\'') {
                    m_open.removeLast();
                } else if (wordText) {
                    m_word.literal += c;
                }
                ++m_index;
                return std::nullopt;
            case Frame::AnsiQuote:
            case Frame::DoubleQuote:
            case Frame::Backquote: {
                const bool ansi = open.frame == Frame::AnsiQuote;
                const QString& inside =
                    open.frame == Frame::Backquote ? kExpansionError : kQuotedError;
                if (atPlaceholder() || (c == u'\\' && atPlaceholder(1))) {
                    return inside;
                }
                if (c == u'\\') {
                    if (wordText && m_index + 1 < m_text.size()) {
                        m_word.literal += m_text[m_index + 1];
                    }
                    m_index += 2;
                } else if ((ansi && c == u'\'') ||
                           (open.frame == Frame::DoubleQuote && c == u'"') ||
                           (open.frame == Frame::Backquote && c == u'`')) {
                    m_open.removeLast();
                    ++m_index;
                } else if (!ansi && c == u'`' && open.frame == Frame::DoubleQuote) {
                    m_word.literalKnown = false;
                    push(Frame::Backquote, 0, 1);
                } else if (open.frame == Frame::DoubleQuote && c == u'$') {
                    bool expands = false;
                    if (auto error = dollar(false, &expands)) {
                        return error;
                    }
                    if (expands) {
                        m_word.literalKnown = false;
                    } else if (wordText) {
                        m_word.literal += c;
                    }
                } else {
                    if (wordText) {
                        m_word.literal += c;
                    }
                    ++m_index;
                }
                return std::nullopt;
            }
            case Frame::Substitution:
            case Frame::Parameter:
            case Frame::Arithmetic:
            case Frame::Bracket: {
                const bool arithmetic =
                    open.frame == Frame::Arithmetic || open.frame == Frame::Bracket;
                if (atPlaceholder() || (c == u'\\' && atPlaceholder(1))) {
                    return arithmetic ? kArithmeticError : kExpansionError;
                }
                if (c == u'\\') {
                    m_index += 2;
                } else if (c == u'$') {
                    bool expands = false;
                    return dollar(!arithmetic, &expands);
                } else if (c == u'`') {
                    push(Frame::Backquote, 0, 1);
                } else if (c == u'"') {
                    push(Frame::DoubleQuote, 0, 1);
                } else if (c == u'\'' && !arithmetic) {
                    // Inside arithmetic an apostrophe quotes nothing: a substitution after
                    // it still runs.
                    push(Frame::SingleQuote, 0, 1);
                } else {
                    const bool parentheses =
                        open.frame == Frame::Substitution || open.frame == Frame::Arithmetic;
                    const QChar opening = parentheses                      ? u'('
                                          : open.frame == Frame::Parameter ? u'{'
                                                                           : u'[';
                    const QChar closing = parentheses                      ? u')'
                                          : open.frame == Frame::Parameter ? u'}'
                                                                           : u']';
                    if (c == opening) {
                        ++open.depth;
                    } else if (c == closing && --open.depth == 0) {
                        m_open.removeLast();
                    }
                    ++m_index;
                }
                return std::nullopt;
            }
        }
        return std::nullopt;
    }

    // One step at the command level, where words and operators are read.
    std::optional<QString> commandStep() {
        if (atPlaceholder()) {
            activate();
            m_word.hasPlaceholder = true;
            m_word.identifierSoFar = false;
            m_index += kPlaceholder.size();
            return std::nullopt;
        }
        const QChar c = m_text[m_index];
        // Inside a glob group or qualifier, blanks and | belong to the word: `x(a b|c)`.
        const bool inGroup =
            m_word.parentheses > 0 && c != u'\n' && !QStringView(u"\\'\"$`()").contains(c);
        switch (inGroup ? u'\0' : c.unicode()) {
            case u'\\':
                if (m_index + 1 == m_text.size()) {
                    // A backslash at the very end stays as it is.
                    activate();
                    m_word.literal += c;
                    ++m_index;
                } else if (m_text[m_index + 1] == u'\n') {
                    m_index += 2;  // a line continued
                } else if (atPlaceholder(1)) {
                    return kQuotedError;
                } else {
                    activate();
                    m_word.quoted = true;
                    m_word.identifierSoFar = false;
                    m_word.literal += m_text[m_index + 1];
                    m_index += 2;
                }
                return std::nullopt;
            case u'\'':
            case u'"':
                activate();
                m_word.quoted = true;
                m_word.identifierSoFar = false;
                push(c == u'\'' ? Frame::SingleQuote : Frame::DoubleQuote, 0, 1);
                return std::nullopt;
            case u'$': {
                activate();
                m_word.identifierSoFar = false;
                bool expands = false;
                if (auto error = dollar(true, &expands)) {
                    return error;
                }
                if (expands) {
                    m_word.plain = false;
                    m_word.literalKnown = false;
                } else {
                    m_word.quoted = true;
                }
                return std::nullopt;
            }
            case u'`':
                activate();
                m_word.plain = false;
                m_word.literalKnown = false;
                m_word.identifierSoFar = false;
                push(Frame::Backquote, 0, 1);
                return std::nullopt;
            case u'#':
                if (!m_word.active) {
                    return comment();
                }
                break;
            case u' ':
            case u'\t': {
                auto error = finishWord();
                ++m_index;
                return error;
            }
            case u'\n': {
                if (auto error = finishWord()) {
                    return error;
                }
                ++m_index;
                if (auto error = endCommand(false)) {
                    return error;
                }
                return heredocBodies();
            }
            case u';':
            case u'|':
            case u'&': {
                if (ahead(u"&>")) {
                    return redirection();
                }
                if (auto error = finishWord()) {
                    return error;
                }
                const qsizetype begin = m_index;
                while (m_index < m_text.size() && QStringView(u";|&").contains(m_text[m_index])) {
                    ++m_index;
                }
                // | and |& hand the output to the next command of the pipeline.
                const QStringView operation = m_text.sliced(begin, m_index - begin);
                return endCommand(operation == u"|" || operation == u"|&");
            }
            case u'<':
            case u'>':
                if (ahead(u"<(") || ahead(u">(")) {
                    activate();
                    m_word.plain = false;
                    m_word.literalKnown = false;
                    push(Frame::Substitution, 1, 2);
                    return std::nullopt;
                }
                return redirection();
            case u'(':
                if (m_word.active) {
                    ++m_word.parentheses;
                    m_word.plain = false;
                    m_word.identifierSoFar = false;
                    ++m_index;
                } else if (m_expectingCommand && ahead(u"((")) {
                    push(Frame::Arithmetic, 2, 2);
                } else if (m_expectingCommand) {
                    ++m_index;  // a subshell: its first word is a command
                } else {
                    activate();
                    m_word.parentheses = 1;
                    m_word.plain = false;
                    m_word.identifierSoFar = false;
                    ++m_index;
                }
                return std::nullopt;
            case u')':
                if (m_word.parentheses > 0) {
                    --m_word.parentheses;
                    ++m_index;
                    return std::nullopt;
                }
                if (auto error = finishWord()) {
                    return error;
                }
                ++m_index;
                return endCommand(false);
            default:
                break;
        }
        // An ordinary character of the word.
        if (c == u'=' && m_word.identifierSoFar && !m_word.literal.isEmpty()) {
            m_word.assignment = true;
        }
        const bool identifier = c == u'_' || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                                (c >= u'0' && c <= u'9' && !m_word.literal.isEmpty()) ||
                                (c == u'+' && ahead(u"+="));
        if (!identifier) {
            m_word.identifierSoFar = false;
        }
        if (isSpecial(c) || (c == u'=' && !m_word.active)) {
            m_word.plain = false;
        }
        activate();
        m_word.literal += c;
        ++m_index;
        return std::nullopt;
    }

    void activate() {
        if (!m_word.active) {
            m_word.active = true;
            m_word.start = m_index;
        }
    }

    // A # at the start of a word: the rest of the line is a comment.
    std::optional<QString> comment() {
        while (m_index < m_text.size() && m_text[m_index] != u'\n') {
            if (atPlaceholder()) {
                return kCommentError;
            }
            ++m_index;
        }
        return std::nullopt;
    }

    // A redirection operator; the next word is its file, a here-string or a here-document
    // delimiter. A word of digits right before it names a file descriptor, not an argument.
    std::optional<QString> redirection() {
        const bool descriptor = m_word.active && !m_word.quoted && !m_word.hasPlaceholder &&
                                !m_word.literal.isEmpty() &&
                                std::all_of(m_word.literal.cbegin(), m_word.literal.cend(),
                                            [](QChar c) { return c.isDigit(); });
        if (descriptor) {
            m_word = Word();
        } else if (auto error = finishWord()) {
            return error;
        }
        if (ahead(u"<<<")) {
            m_index += 3;
            m_redirection = Redirection::HereString;
        } else if (ahead(u"<<")) {
            m_index += 2;
            m_heredocStripsTabs = ahead(u"-");
            if (m_heredocStripsTabs) {
                ++m_index;
            }
            m_heredocDelimiterNext = true;
        } else {
            // <, >, >>, <>, >&, <&, &>, &>>, each possibly followed by | or ! to clobber.
            ++m_index;
            while (m_index < m_text.size() && QStringView(u"<>&|!").contains(m_text[m_index])) {
                ++m_index;
            }
            m_redirection = Redirection::File;
        }
        return std::nullopt;
    }

    // The bodies of the here-documents started on the line that just ended.
    std::optional<QString> heredocBodies() {
        for (const Heredoc& heredoc : std::exchange(m_heredocs, {})) {
            while (m_index < m_text.size()) {
                qsizetype end = m_text.indexOf(u'\n', m_index);
                if (end < 0) {
                    end = m_text.size();
                }
                QStringView line = m_text.sliced(m_index, end - m_index);
                m_index = std::min(end + 1, m_text.size());
                if (heredoc.stripsTabs) {
                    while (line.startsWith(u'\t')) {
                        line = line.sliced(1);
                    }
                }
                if (line == heredoc.delimiter) {
                    break;
                }
                if (line.contains(kPlaceholder)) {
                    return kHeredocError;
                }
            }
        }
        return std::nullopt;
    }

    // The end of a word at the command level: what it is depends on what came before it.
    std::optional<QString> finishWord() {
        if (!m_word.active) {
            return std::nullopt;
        }
        const Word word = std::exchange(m_word, Word());
        if (m_heredocDelimiterNext) {
            m_heredocDelimiterNext = false;
            if (word.hasPlaceholder) {
                return kHeredocError;
            }
            m_heredocs.append(Heredoc{word.literal, m_heredocStripsTabs});
            return std::nullopt;
        }
        if (m_redirection != Redirection::None) {
            const Redirection redirection = std::exchange(m_redirection, Redirection::None);
            if (!word.hasPlaceholder) {
                return std::nullopt;
            }
            if (redirection == Redirection::File) {
                return kRedirectionError;
            }
            if (!word.plain) {
                return kGlueError;
            }
            m_hereStringPlaceholder = true;
            return std::nullopt;
        }
        const QStringView raw = m_text.sliced(word.start, m_index - word.start);
        if (m_header != Header::None) {
            return headerWord(word, raw);
        }
        if (m_expectingCommand) {
            return commandWord(word, raw);
        }
        ++m_arguments;
        // `name ()` and a case pattern `(x)`: a command follows.
        if ((m_arguments == 1 && raw == u"()") || (m_command == u"case" && raw.startsWith(u'('))) {
            startCommand();
            return std::nullopt;
        }
        // A shell named among the arguments is started by the command: `nice -n 5 sh`,
        // `timeout 60 bash`, `sudo -u ana zsh`, where the options hide the command's end.
        if (!word.hasPlaceholder && !m_commandReceivesTask && word.literalKnown &&
            isShell(baseName(word.literal))) {
            m_shell = baseName(word.literal);
            if (m_pipelineCarriesTask) {
                return codeCommandError(m_shell);
            }
        }
        const QString& shell = m_shell.isEmpty() ? m_unknownCommand : m_shell;
        if (!shell.isEmpty() && m_codeShell.isEmpty() && isCommandOption(word.literal)) {
            m_codeShell = shell;
        }
        if (!word.hasPlaceholder) {
            return std::nullopt;
        }
        if (auto error = codeCommand()) {
            return error;
        }
        if (!word.plain) {
            return kGlueError;
        }
        m_commandReceivesTask = true;
        return std::nullopt;
    }

    std::optional<QString> commandWord(const Word& word, QStringView raw) {
        if (word.assignment) {
            return word.hasPlaceholder && !word.plain ? std::optional(kGlueError) : std::nullopt;
        }
        if (word.hasPlaceholder) {
            return kCommandWordError;
        }
        const QString name = word.literalKnown ? baseName(word.literal) : knownTail(raw);
        if (raw.endsWith(u"()")) {
            return std::nullopt;  // `name()`: the function's body is a command
        }
        if (isOneOf(name, {u"for", u"foreach", u"select"})) {
            m_header = Header::Loop;
            return std::nullopt;
        }
        if (name == u"function") {
            m_header = Header::FunctionName;
            return std::nullopt;
        }
        if (isPrecommand(name)) {
            m_afterPrecommand = true;
            return std::nullopt;
        }
        if (m_afterPrecommand && word.literal.startsWith(u'-')) {
            return std::nullopt;  // an option of the precommand
        }
        m_command = name;
        m_expectingCommand = false;
        if (isShell(name)) {
            m_shell = name;
        } else if (name.isEmpty()) {
            // `$SHELL`, `$(which sh)`: only known when it runs, so it may be a shell.
            m_unknownCommand = raw.toString();
        }
        // A pipeline that carries the task into a shell runs it; an interpreter may.
        if (m_pipelineCarriesTask && isShell(name)) {
            return codeCommandError(name);
        }
        if (m_pipelineCarriesTask && !m_warning && isInterpreter(name)) {
            m_warning = interpreterWarning(name);
        }
        return std::nullopt;
    }

    // The names and words after `for` or `function`; a parenthesised list ends a loop's
    // header (`for x (a b) command`), after which a command follows.
    std::optional<QString> headerWord(const Word& word, QStringView raw) {
        if (word.hasPlaceholder && !word.plain) {
            return kGlueError;
        }
        if (m_header == Header::FunctionName || raw.startsWith(u'(')) {
            m_header = Header::None;
        }
        return std::nullopt;
    }

    // A refusal when the current command runs the task it receives as shell code.
    std::optional<QString> codeCommand() const {
        if (isOneOf(m_command, {u"eval", u"source", u".", u"trap"})) {
            return codeCommandError(m_command);
        }
        if (isOneOf(m_command, {u"let", u"repeat"})) {
            return kArithmeticError;
        }
        if (!m_codeShell.isEmpty()) {
            return codeCommandError(m_codeShell + QStringLiteral(" -c"));
        }
        return std::nullopt;
    }

    // The end of a simple command: a task it reads on standard input from a here-string
    // is code to a shell; any task is a warning to an interpreter. A pipe carries the task
    // on to the next command.
    std::optional<QString> endCommand(bool pipe) {
        if (m_hereStringPlaceholder) {
            if (!m_shell.isEmpty()) {
                return codeCommandError(m_shell);
            }
            if (isOneOf(m_command, {u"source", u"."})) {
                return codeCommandError(m_command);
            }
            m_commandReceivesTask = true;
        }
        const QString& runner = isInterpreter(m_command) ? m_command : m_shell;
        if (m_commandReceivesTask && !m_warning && !runner.isEmpty()) {
            m_warning = interpreterWarning(runner);
        }
        m_pipelineCarriesTask = pipe && (m_pipelineCarriesTask || m_commandReceivesTask);
        m_header = Header::None;
        startCommand();
        return std::nullopt;
    }

    void startCommand() {
        m_expectingCommand = true;
        m_afterPrecommand = false;
        m_command.clear();
        m_arguments = 0;
        m_shell.clear();
        m_unknownCommand.clear();
        m_codeShell.clear();
        m_commandReceivesTask = false;
        m_hereStringPlaceholder = false;
        m_redirection = Redirection::None;
        m_heredocDelimiterNext = false;
    }

    const QStringView m_text;
    qsizetype m_index = 0;
    QList<Open> m_open;
    Word m_word;

    // The simple command being read.
    bool m_expectingCommand = true;
    bool m_afterPrecommand = false;
    Header m_header = Header::None;
    int m_arguments = 0;
    bool m_pipelineCarriesTask = false;
    QString m_command;         // the command's name without its folder; empty when not literal
    QString m_shell;           // a shell the command starts: the command or a word after it
    QString m_unknownCommand;  // the command as written when its name comes from an expansion
    QString m_codeShell;       // the shell given -c, which runs the words after it as code
    bool m_commandReceivesTask = false;
    bool m_hereStringPlaceholder = false;
    Redirection m_redirection = Redirection::None;
    bool m_heredocDelimiterNext = false;
    bool m_heredocStripsTabs = false;
    QList<Heredoc> m_heredocs;

    std::optional<QString> m_warning;
};

}  // namespace

CommandTemplate::Review CommandTemplate::review(const QString& templateText) {
    return Reader(templateText).read();
}
