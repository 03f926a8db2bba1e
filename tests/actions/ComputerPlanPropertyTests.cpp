// Generated plans thrown at decoding and validation: every accepted plan must satisfy the
// rules when checked independently of the validator, and no input may crash either stage.
#include "actions/ComputerPlan.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace {

class PlanGenerator {
public:
    explicit PlanGenerator(quint32 seed) : m_random(seed) {}

    QJsonDocument plan() {
        QJsonObject object;
        if (chance(95)) {
            object["explanation"] = chance(95) ? QJsonValue(text(chance(3) ? 4100 : 40)) : any();
        }
        if (chance(95)) {
            QJsonArray steps;
            const int count = pick(chance(10) ? 16 : 4);
            for (int i = 0; i < count; ++i) {
                steps.append(chance(97) ? QJsonValue(step(i)) : any());
            }
            object["steps"] = chance(97) ? QJsonValue(steps) : any();
        }
        if (chance(20)) {
            object["unknown"] = any();
        }
        return QJsonDocument(object);
    }

    QByteArray mutated(QByteArray data) {
        const int edits = 1 + pick(4);
        for (int i = 0; i < edits && !data.isEmpty(); ++i) {
            const int at = pick(data.size());
            switch (pick(3)) {
                case 0:
                    data[at] = static_cast<char>(pick(256));
                    break;
                case 1:
                    data.remove(at, 1 + pick(8));
                    break;
                default:
                    data.insert(at, "\"{}[],:0.5e9\\u"[pick(14)]);
            }
        }
        return data;
    }

private:
    bool chance(int percent) { return pick(100) < percent; }
    int pick(int bound) { return bound <= 0 ? 0 : static_cast<int>(m_random.bounded(bound)); }

    QString text(int maximumLength) {
        static const QStringList pieces = {
            "a",      "Z",      " ",      ".",       "/",          "\n", "\t", "\u007F",
            "\u0085", "\u00A0", "\u3000", "e\u0301", "\U0001F642", "@",  ":",  "%20",
            "\\",     "#",      "?",      "com",     "apple",      "ü",
        };
        QString result;
        const int length = pick(maximumLength + 1);
        for (int i = 0; i < length; ++i) {
            result += pieces[pick(pieces.size())];
        }
        return result;
    }

    QString appIdentifier() {
        static const QStringList apps = {"com.apple.TextEdit",
                                         "org.gnome.Calculator",
                                         "a.b",
                                         "nodot",
                                         ".x",
                                         "a/b.c",
                                         "a .b",
                                         ""};
        return chance(70) ? apps[pick(apps.size())] : text(12);
    }

    QString value(const QString& action) {
        static const QStringList urls = {
            "https://example.com/", "HTTP://example.com", "https://u@example.com",
            "https://u:p@h.com",    "file:///etc/passwd", "https:///x",
            "http:example.com",     "https://@h.com",     "https://h.com/\n",
            "mailto:a@b.c",
        };
        if (chance(30)) {
            return text(30);
        }
        if (action == u"open_url") {
            return urls[pick(urls.size())] + (chance(3) ? QString(2100, u'a') : QString());
        }
        if (action == u"key") {
            static const QStringList names = {"return",    "Return",    "tab",   "command+a",
                                              "command+A", "command+q", "space "};
            return names[pick(names.size())];
        }
        if (action == u"type_text") {
            return chance(3) ? QString(1995 + pick(10), u'x') : text(20);
        }
        return QString();
    }

    QJsonValue any() {
        switch (pick(6)) {
            case 0:
                return QJsonValue();
            case 1:
                return QJsonValue(pick(2) == 1);
            case 2:
                return QJsonValue(pick(1000) / 7.0);
            case 3:
                return QJsonValue(text(5));
            case 4:
                return QJsonArray{1, "x"};
            default:
                return QJsonObject{{"k", 1}};
        }
    }

    QJsonObject step(int index) {
        static const QStringList actions = {"open_app", "open_url", "type_text", "key",
                                            "shell",    "OPEN_APP", ""};
        const QString action = actions[pick(actions.size())];
        QJsonObject object;
        const QList<QPair<QString, QJsonValue>> fields = {
            {"id", chance(90) ? QJsonValue(chance(10) ? 1 : index) : any()},
            {"title", chance(90) ? QJsonValue(chance(5) ? QString(301, u't') : text(10)) : any()},
            {"action", action},
            {"app", chance(97) ? QJsonValue(appIdentifier()) : any()},
            {"value", chance(97) ? QJsonValue(value(action)) : any()},
        };
        for (const auto& [key, fieldValue] : fields) {
            if (chance(98)) {
                object[key] = fieldValue;
            }
        }
        return object;
    }

    QRandomGenerator m_random;
};

bool hasControlOrBreak(const QString& text) {
    return std::any_of(text.begin(), text.end(),
                       [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
}

// The rules restated independently and more coarsely than the validator's code: whatever the
// validator accepts must pass these.
void expectAcceptable(const ComputerPlan& plan) {
    ASSERT_LE(plan.steps.size(), 12);
    QSet<qint64> ids;
    for (const ComputerStep& step : plan.steps) {
        EXPECT_FALSE(ids.contains(step.id));
        ids.insert(step.id);
        EXPECT_FALSE(step.title.isEmpty());
        EXPECT_TRUE(step.app.contains(u'.'));
        EXPECT_FALSE(step.app.contains(u'/'));
        EXPECT_FALSE(step.app.contains(u' ') || step.app.contains(u'\n') ||
                     step.app.contains(u'\t') || step.app.contains(QChar(0x3000)));
        if (step.action == u"open_app") {
            EXPECT_TRUE(step.value.isEmpty());
        } else if (step.action == u"open_url") {
            const QString lower = step.value.toLower();
            EXPECT_TRUE(lower.startsWith(u"http://") || lower.startsWith(u"https://"))
                << step.value.toStdString();
            const QString authority = lower.section(u'/', 2, 2);
            EXPECT_FALSE(authority.isEmpty() || authority.contains(u'@'))
                << step.value.toStdString();
            EXPECT_FALSE(hasControlOrBreak(step.value) || step.value.contains(u' '));
        } else if (step.action == u"type_text") {
            EXPECT_FALSE(step.value.isEmpty());
            EXPECT_LE(step.value.size(), 2000);
            EXPECT_FALSE(hasControlOrBreak(step.value));
        } else {
            ASSERT_EQ(step.action, u"key");
            EXPECT_TRUE(ComputerPlan::keys().contains(step.value)) << step.value.toStdString();
        }
    }
}

}  // namespace

TEST(ComputerPlanProperties, generatedPlansAreEitherRefusedOrSatisfyEveryRule) {
    PlanGenerator generator(20261206);
    int accepted = 0, refused = 0, undecodable = 0;
    for (int i = 0; i < 3000; ++i) {
        const QJsonDocument document = generator.plan();
        const QByteArray data = document.toJson(QJsonDocument::Compact);
        const PlanResult decoded = ComputerPlan::decode(data);
        if (!decoded.ok()) {
            ++undecodable;
            EXPECT_FALSE(decoded.error.isEmpty());
            continue;
        }
        const PlanResult checked = decoded.plan->validated();
        if (!checked.ok()) {
            ++refused;
            EXPECT_FALSE(checked.error.isEmpty());
            continue;
        }
        ++accepted;
        EXPECT_EQ(*checked.plan, *decoded.plan);
        expectAcceptable(*checked.plan);
        // An accepted plan survives its own encoding.
        EXPECT_EQ(*ComputerPlan::decode(checked.plan->encode()).plan, *checked.plan);
        if (HasFailure()) {
            FAIL() << "accepted: " << data.toStdString();
        }
    }
    // The generator must reach every outcome, or the test proves nothing.
    EXPECT_GT(accepted, 50);
    EXPECT_GT(refused, 300);
    EXPECT_GT(undecodable, 100);
}

TEST(ComputerPlanProperties, mutatedBytesNeverCrashDecodingOrValidation) {
    PlanGenerator generator(7);
    for (int i = 0; i < 3000; ++i) {
        const QByteArray data = generator.mutated(generator.plan().toJson(QJsonDocument::Compact));
        const PlanResult decoded = ComputerPlan::decode(data);
        if (decoded.ok()) {
            const PlanResult checked = decoded.plan->validated();
            if (checked.ok()) {
                expectAcceptable(*checked.plan);
            }
        }
    }
}
