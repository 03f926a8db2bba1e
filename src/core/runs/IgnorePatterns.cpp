#include "core/runs/IgnorePatterns.h"

namespace {

// The glob as a regular expression over a whole path (anchored) or one name.
QString globExpression(const QString& glob) {
    QString expression;
    for (qsizetype index = 0; index < glob.size(); ++index) {
        const QChar c = glob[index];
        if (c == u'*') {
            const bool doubled = index + 1 < glob.size() && glob[index + 1] == u'*';
            if (!doubled) {
                expression += QStringLiteral("[^/]*");
                continue;
            }
            ++index;
            // "**/" matches no folder or any number of them; "**" elsewhere anything.
            if (index + 1 < glob.size() && glob[index + 1] == u'/') {
                ++index;
                expression += QStringLiteral("(?:.*/)?");
            } else {
                expression += QStringLiteral(".*");
            }
        } else if (c == u'?') {
            expression += QStringLiteral("[^/]");
        } else if (c == u'[') {
            const qsizetype close = glob.indexOf(u']', index + 2);
            if (close < 0) {
                expression += QStringLiteral("\\[");
                continue;
            }
            QString set = glob.sliced(index + 1, close - index - 1);
            if (set.startsWith(u'!')) {
                set[0] = u'^';
            }
            set.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
            expression += u'[' + set + u']';
            index = close;
        } else if (c == u'\\' && index + 1 < glob.size()) {
            expression += QRegularExpression::escape(QString(glob[++index]));
        } else {
            expression += QRegularExpression::escape(QString(c));
        }
    }
    return QStringLiteral("^") + expression + QStringLiteral("$");
}

}  // namespace

IgnorePatterns::IgnorePatterns(const QStringList& lines) {
    for (QString line : lines) {
        while (line.endsWith(u' ') || line.endsWith(u'\r') || line.endsWith(u'\t')) {
            line.chop(1);
        }
        if (line.isEmpty() || line.startsWith(u'#')) {
            continue;
        }
        Pattern pattern;
        if (line.startsWith(u'!')) {
            pattern.negated = true;
            line.remove(0, 1);
        } else if (line.startsWith(QStringLiteral("\\!")) ||
                   line.startsWith(QStringLiteral("\\#"))) {
            line.remove(0, 1);
        }
        if (line.endsWith(u'/')) {
            pattern.folderOnly = true;
            line.chop(1);
        }
        pattern.anchored = line.contains(u'/');
        if (line.startsWith(u'/')) {
            line.remove(0, 1);
        }
        if (line.isEmpty()) {
            continue;
        }
        pattern.expression = QRegularExpression(globExpression(line));
        if (pattern.expression.isValid()) {
            m_patterns.push_back(std::move(pattern));
        }
    }
}

bool IgnorePatterns::matches(const QString& path) const {
    const QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
    bool matched = false;
    QString prefix;
    for (qsizetype depth = 0; depth < parts.size(); ++depth) {
        prefix += (depth == 0 ? QString() : QStringLiteral("/")) + parts[depth];
        const bool folder = depth + 1 < parts.size();
        for (const Pattern& pattern : m_patterns) {
            if (pattern.folderOnly && !folder) {
                continue;
            }
            const QString& subject = pattern.anchored ? prefix : parts[depth];
            if (pattern.expression.match(subject).hasMatch()) {
                matched = !pattern.negated;
            }
        }
    }
    return matched;
}
