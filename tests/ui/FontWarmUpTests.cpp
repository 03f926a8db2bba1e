// The application font names the installed family that the generic "Sans Serif" stands for:
// the same face, metrics and fallbacks, without Qt looking the generic name up for every size.

#include "ui/kit/FontWarmUp.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QStringList>

#include <gtest/gtest.h>

TEST(FontWarmUp, theGenericFamilyBecomesTheInstalledFamilyItStandsForAndLooksTheSame) {
    readFontConfiguration();
    const QString installed = installedFamily(QStringLiteral("Sans Serif"));
    ASSERT_TRUE(QFontDatabase::families().contains(installed)) << installed.toStdString();

    const QString text = QStringLiteral("Start with an idea — ideas, in orbit");
    for (const QFont::Weight weight : {QFont::Normal, QFont::DemiBold, QFont::Bold}) {
        QFont generic(QStringLiteral("Sans Serif"));
        QFont named(installed);
        for (QFont* font : {&generic, &named}) {
            font->setPixelSize(13);
            font->setWeight(weight);
        }
        EXPECT_EQ(QFontInfo(named).family(), QFontInfo(generic).family());
        EXPECT_EQ(QFontInfo(named).styleName(), QFontInfo(generic).styleName());
        EXPECT_EQ(QFontMetrics(named).horizontalAdvance(text),
                  QFontMetrics(generic).horizontalAdvance(text));
    }
    // Only the generic family is replaced: another is the user's or the desktop's choice.
    EXPECT_EQ(installedFamily(QStringLiteral("Monospace")), QStringLiteral("Monospace"));
    EXPECT_EQ(installedFamily(installed), installed);
}
