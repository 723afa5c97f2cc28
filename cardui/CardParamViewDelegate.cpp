#include "cardui/CardParamViewDelegate.h"

#include <QComboBox>
#include <QPainter>

#include "cardui/ParamsTableModel.h"

namespace {

const CardParameter* EnumeratedParameter(const QModelIndex& index)
{
    const auto* model = qobject_cast<const ParamsTableModel*>(index.model());
    if (!model || index.column() != ParamsTableModel::ValueColumn)
        return nullptr;
    const CardParameter* param = model->Parameter(index.row());
    return param && param->IsEnumerated() ? param : nullptr;
}

} // namespace

CardParamViewDelegate::CardParamViewDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

QWidget* CardParamViewDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                             const QModelIndex& index) const
{
    const CardParameter* param = EnumeratedParameter(index);
    if (!param)
        return QStyledItemDelegate::createEditor(parent, option, index);
    auto* combo = new QComboBox(parent);
    for (const CardParameter::EnumValue& value : param->enumValues)
        combo->addItem(QString::fromUtf8(value.label.c_str()));
    connect(combo, SIGNAL(activated(int)), this, SLOT(ComboChoiceChanged(int)));
    return combo;
}

void CardParamViewDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    auto* combo = qobject_cast<QComboBox*>(editor);
    if (!combo || !EnumeratedParameter(index)) {
        QStyledItemDelegate::setEditorData(editor, index);
        return;
    }
    const QString current = index.data(Qt::EditRole).toString();
    const int at = combo->findText(current, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (at < 0) {
        combo->setPlaceholderText(current);
        combo->setToolTip(QStringLiteral("the current value is not one of the enumerated labels"));
    }
    combo->setCurrentIndex(at);
}

void CardParamViewDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                         const QModelIndex& index) const
{
    auto* combo = qobject_cast<QComboBox*>(editor);
    if (!combo || !EnumeratedParameter(index)) {
        QStyledItemDelegate::setModelData(editor, model, index);
        return;
    }
    // Closing the list without a choice writes nothing.
    if (combo->currentIndex() >= 0)
        model->setData(index, combo->currentText(), Qt::EditRole);
}

void CardParamViewDelegate::ComboChoiceChanged(int)
{
    auto* combo = qobject_cast<QComboBox*>(sender());
    if (!combo)
        return;
    emit commitData(combo);
    emit closeEditor(combo);
}

void CardParamViewDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const
{
    painter->save();
    painter->setPen(QColor(Qt::lightGray));
    painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
    painter->restore();
    QStyledItemDelegate::paint(painter, option, index);
}
