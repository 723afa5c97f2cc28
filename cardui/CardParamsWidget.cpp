#include "cardui/CardParamsWidget.h"

#include <exception>

#include <QHeaderView>
#include <QTimer>

#include <boost/make_shared.hpp>

#include "async/FutureThen.h"
#include "cardui/CardParamViewDelegate.h"
#include "cardui/ParamsTableModel.h"
#include "protocol/CardParamsAccessor.h"
#include "protocol/TolvarenCommsCommon.h"
#include "ui_CardParamsWidget.h"

namespace {

const int prefixLength = 2; // "A_"
const int statusPage = 0;
const int tablePage = 1;

} // namespace

CardParamsWidget::CardParamsWidget(int moduleIndex, boost::shared_ptr<SharedCardParams> shared,
                                   ModbusMasterDatalink& datalink, QWidget* parent)
    : QWidget(parent), m_ui(new Ui::CardParamsWidget), m_moduleIndex(moduleIndex),
      m_shared(std::move(shared)), m_datalink(datalink),
      m_comms(boost::make_shared<TolvarenCommsCommon>(datalink)), m_then(new FutureThen)
{
    m_ui->setupUi(this);
    m_ui->tableView->setItemDelegate(new CardParamViewDelegate(m_ui->tableView));
    m_ui->stackedWidget->setCurrentIndex(statusPage);
    m_ui->statusLabel->setText(QStringLiteral("Loading parameters..."));

    if (m_shared->state != SharedCardParams::NotRequested) {
        CheckSharedParamsState();
        return;
    }
    m_shared->state = SharedCardParams::BeingRead;
    ThenDeliverToSlot(*m_then, m_comms->GetParameterDefinitions(), this, "HandleParamsGathered");
}

// The view lets go of the model before the model goes.
CardParamsWidget::~CardParamsWidget()
{
    m_then.reset();
    m_ui->tableView->setModel(nullptr);
}

QString CardParamsWidget::StatusText() const
{
    return m_ui->statusLabel->text();
}

void CardParamsWidget::HandleParamsGathered(FuturePtr<CardParamsVec>::type fut)
{
    try {
        m_shared->params = fut->get();
    } catch (const std::exception& e) {
        m_ui->statusLabel->setText(QString::fromUtf8(e.what()));
        return;
    }
    m_shared->state = SharedCardParams::Read;
    CheckSharedParamsState();
}

void CardParamsWidget::CheckSharedParamsState()
{
    if (m_shared->state == SharedCardParams::BeingRead) {
        QTimer::singleShot(50, this, SLOT(CheckSharedParamsState()));
        return;
    }
    if (m_shared->state != SharedCardParams::Read) {
        m_ui->statusLabel->setText(QStringLiteral("Error."));
        return;
    }
    ShowModule();
}

void CardParamsWidget::ShowModule()
{
    const char letter = char('A' + m_moduleIndex);
    CardParamsVec params;
    for (const CardParameter& p : m_shared->params) {
        if (p.name.size() >= std::size_t(prefixLength) && p.name[0] == letter && p.name[1] == '_')
            params.push_back(p);
    }
    m_accessor = boost::make_shared<CardParamsAccessor>(params, m_datalink);
    m_model = boost::make_shared<ParamsTableModel>(m_accessor, nullptr);
    m_ui->statusLabel->setText(QStringLiteral("Parameters loaded."));
    m_ui->tableView->setModel(m_model.get());

    emit ModuleNameChanged(ModuleTitle(params));

    connect(m_model.get(), SIGNAL(dataChanged(QModelIndex, QModelIndex, QVector<int>)), this,
            SLOT(ModelDataChanged(QModelIndex, QModelIndex, QVector<int>)));
    m_model->SetActive(isVisible());
    m_ui->tableView->setColumnWidth(ParamsTableModel::NameColumn, 300);
    m_ui->tableView->setColumnWidth(ParamsTableModel::ValueColumn, 150);
    m_ui->tableView->resizeColumnToContents(ParamsTableModel::StorageColumn);
    m_ui->stackedWidget->setCurrentIndex(tablePage);
}

// A card that does not answer the name now is named by its letter; the name follows with the
// first refresh of the table.
QString CardParamsWidget::ModuleTitle(const CardParamsVec& params)
{
    const QString fallback = QStringLiteral("Control %1").arg(QChar('A' + m_moduleIndex));
    if (params.size() < 2 || params[1].name.substr(prefixLength) != "ModuleName")
        return fallback;
    try {
        return QString::fromUtf8(m_accessor->ReadValueText(params[1]).c_str());
    } catch (const std::exception&) {
        return fallback;
    }
}

void CardParamsWidget::ModelDataChanged(QModelIndex topLeft, QModelIndex bottomRight,
                                        QVector<int>)
{
    ModelDataChanged(topLeft, bottomRight);
}

void CardParamsWidget::ModelDataChanged(QModelIndex topLeft, QModelIndex bottomRight)
{
    if (!m_model || topLeft.row() >= 2 || bottomRight.row() <= 0)
        return;
    const QString name = m_model->index(1, ParamsTableModel::NameColumn).data().toString();
    const QModelIndex value = m_model->index(1, ParamsTableModel::ValueColumn);
    // Before the first read (a time-out, say) the cell holds no name yet, only "...".
    if (name.startsWith(QStringLiteral("ModuleName")) &&
        !value.data(Qt::EditRole).toString().isEmpty())
        emit ModuleNameChanged(value.data().toString());
}

void CardParamsWidget::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_model)
        m_model->SetActive(true);
}

void CardParamsWidget::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (m_model)
        m_model->SetActive(false);
}
