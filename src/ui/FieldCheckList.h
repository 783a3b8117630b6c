#pragma once

#include <QListWidget>

namespace kelvo {

// A check list laid out in a fixed number of columns, filled column by
// column, tall enough to show every item without scrolling.
class FieldCheckList : public QListWidget
{
    Q_OBJECT

public:
    explicit FieldCheckList(int columns, QWidget *parent = nullptr);

    // Adds one unticked item; call before the list is shown.
    void addCheckItem(const QString &label);
    bool isChecked(int row) const;
    void setChecked(int row, bool checked);
    void setAllChecked(bool checked);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    int rowsPerColumn() const;
    int itemHeight() const;
    void updateGrid();

    int m_columns;
};

} // namespace kelvo
