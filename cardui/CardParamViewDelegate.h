#pragma once

#include <QStyledItemDelegate>

// Draws the parameter table's rows with a light rule beneath each, and edits an enumerated
// value with a drop-down list of its labels that writes the value as soon as one is chosen.
//
// Threads: user-interface thread only.
class CardParamViewDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit CardParamViewDelegate(QObject* parent = nullptr);

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    // A value that is none of the labels (the card holds a number no label names) leaves the
    // list without a choice, showing that value, so that the user can pick a valid one.
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

private slots:
    void ComboChoiceChanged(int index);
};
