// The list of colour flags a document item offers when its flag is clicked: one row per flag
// other than the current one, in the fixed order 6, 7, 5, 2, 4, 3, 1, then the "no flag" row,
// each with the flag's sprite and name. The icon of the row under the pointer slides 16 points
// to the right.
//
// It answers once through its callback: the flag of the row a release lands on, or none for a
// release elsewhere, Esc, or the popup closing (answerNone, called by its owner). Every other
// key is swallowed. Rows are y-up, the first at y 140, each next 20 lower.
#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>

class KPCustomThemeObject;
class QVariantAnimation;

class KPFlagPickerView : public QWidget {
public:
    static constexpr int kSlideMs = 150;
    static constexpr qint64 kDisplayOrder[] = {6, 7, 5, 2, 4, 3, 1};

    struct Row {
        qint64 flag = 0;
        double y = 0;
        double iconX = -16;
    };
    using Answer = std::function<void(std::optional<qint64> flag)>;

    // origin: y-up position in the parent (kept); the size is (maxWidth, 160).
    explicit KPFlagPickerView(const QPointF& origin = {}, QWidget* parent = nullptr);
    ~KPFlagPickerView() override;

    // The widest flag name (flags 0 to 7) in "OpenSans-Bold" 12 plus 36.
    static int maxWidth();

    // Builds the rows for a document whose flag is currentFlag.
    void showLayerByLabelIndex(qint64 currentFlag);
    const QList<Row>& rows() const { return m_rows; }
    // The row whose band (full width, 20 high) holds the y-up point.
    std::optional<qsizetype> rowAtPoint(const QPointF& pointUp) const;
    std::optional<qsizetype> hoveredRow() const { return m_hovered; }

    void setAnswer(Answer answer) { m_answer = std::move(answer); }
    void answerNone() { answer(std::nullopt); }
    bool answered() const { return m_answered; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void hover(const QPointF& pointUp);
    void slide(qsizetype row, double to);
    void answer(std::optional<qint64> flag);

    KPCustomThemeObject* m_flagTheme = nullptr;
    QList<Row> m_rows;
    std::optional<qsizetype> m_hovered;
    QList<QPointer<QVariantAnimation>> m_slides;
    Answer m_answer;
    bool m_answered = false;
};
