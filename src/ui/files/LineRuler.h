#pragma once

#include <QColor>
#include <QPointer>
#include <QWidget>

#include <vector>

class CodeEditor;

// The gutter on the left of a CodeEditor: numbers the logical lines ("\n"-separated) that
// are visible, right-aligned, on the first visible fragment of each line only, so a wrapped
// line's continuation fragments carry no number. It lays out only what is visible.
class LineRuler : public QWidget {
    Q_OBJECT

public:
    static constexpr int kThickness = 45;

    // One number as drawn: its value and the top of its text in ruler coordinates (the
    // ruler's top is the top of the visible text area).
    struct Label {
        int number = 0;
        qreal y = 0;

        bool operator==(const Label&) const = default;
    };

    explicit LineRuler(CodeEditor* editor);

    // The labels for what the editor shows now.
    std::vector<Label> labels() const;
    // The editor's background blended 8 % towards black; black without an editor.
    QColor backgroundColor() const;

    QSize sizeHint() const override { return {kThickness, 0}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPointer<CodeEditor> m_editor;
};
