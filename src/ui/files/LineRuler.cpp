#include "ui/files/LineRuler.h"

#include "core/appearance/HexColor.h"
#include "ui/files/CodeEditor.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPaintEvent>
#include <QPainter>
#include <QTextBlock>
#include <QTextLayout>

namespace {

constexpr qreal kNumberRightMargin = 10;
constexpr qreal kNumberTopOffset = 2;
constexpr qreal kNumberPointSize = 10;
constexpr qreal kBlendTowardsBlack = 0.08;

QFont numberFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(kNumberPointSize);
    font.setWeight(QFont::Normal);
    return font;
}

}  // namespace

LineRuler::LineRuler(CodeEditor* editor) : QWidget(editor), m_editor(editor) {
    setFixedWidth(kThickness);
}

QColor LineRuler::backgroundColor() const {
    if (!m_editor) {
        return Qt::black;
    }
    const QColor base = m_editor->background().toRgb();
    const qreal keep = 1.0 - kBlendTowardsBlack;
    return QColor::fromRgbF(base.redF() * keep, base.greenF() * keep, base.blueF() * keep);
}

std::vector<LineRuler::Label> LineRuler::labels() const {
    std::vector<Label> result;
    if (!m_editor || m_editor->document()->isEmpty()) {
        return result;
    }
    const QTextDocument* document = m_editor->document();
    const qreal visibleHeight = m_editor->viewport()->height();
    // The empty line after a final line break has no characters of its own: no number.
    const QTextBlock lastBlock = document->lastBlock();
    const bool lastBlockIsBare = lastBlock.length() <= 1 && lastBlock.blockNumber() > 0;

    int numberedBlock = -1;
    for (QTextBlock block = m_editor->firstVisibleTextBlock(); block.isValid();
         block = block.next()) {
        if (block == lastBlock && lastBlockIsBare) {
            break;
        }
        const QRectF geometry = m_editor->blockRectInViewport(block);
        if (geometry.top() >= visibleHeight) {
            break;
        }
        const QTextLayout* layout = block.layout();
        if (!block.isVisible() || !layout) {
            continue;
        }
        for (int index = 0; index < layout->lineCount(); ++index) {
            const QTextLine line = layout->lineAt(index);
            const qreal top = geometry.top() + line.y();
            if (top + line.height() <= 0) {
                continue;
            }
            if (top >= visibleHeight) {
                break;
            }
            if (block.blockNumber() != numberedBlock) {
                numberedBlock = block.blockNumber();
                result.push_back({numberedBlock + 1, top + kNumberTopOffset});
            }
        }
    }
    return result;
}

void LineRuler::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), backgroundColor());
    const QFont font = numberFont();
    const QFontMetricsF metrics(font);
    painter.setFont(font);
    painter.setPen(colorFromHex(u"617A93"));
    for (const Label& label : labels()) {
        const QString text = QString::number(label.number);
        const qreal x = kThickness - metrics.horizontalAdvance(text) - kNumberRightMargin;
        painter.drawText(QPointF(x, label.y + metrics.ascent()), text);
    }
}
