#include "cardui/ParamsTableModel.h"

#include <cmath>
#include <exception>

#include <QColor>
#include <QMessageBox>

#include "app/EventLoopTrackingApp.h"
#include "async/FutureThen.h"
#include "async/QtSlotCallPackage.h"
#include "modbus/ModbusErrors.h"
#include "protocol/CardParamsAccessor.h"

namespace {

const int refreshIntervalMs = 300;

} // namespace

ParamsTableModel::ParamsTableModel(boost::shared_ptr<CardParamsAccessor> accessor,
                                   QObject* parent)
    : QAbstractTableModel(parent), m_accessor(std::move(accessor)), m_then(new FutureThen)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(refreshIntervalMs);
    connect(&m_timer, SIGNAL(timeout()), this, SLOT(RefreshValues()));
}

ParamsTableModel::~ParamsTableModel() = default;

void ParamsTableModel::SetActive(bool active)
{
    m_active = active;
    m_timer.stop();
    if (active)
        RefreshValues();
}

void ParamsTableModel::RefreshValues()
{
    EventLoopTrackingApp::PostSlotCall(QtSlotCallPackage(this, "RefreshValuesImpl"));
}

// One read at a time: a read already under way re-arms the timer when it ends.
void ParamsTableModel::RefreshValuesImpl()
{
    if (m_reading)
        return;
    m_reading = true;
    ThenDeliverToSlot(*m_then, m_accessor->ReadAllValues(), this, "HandleParamValuesGathered");
}

void ParamsTableModel::HandleParamValuesGathered(FuturePtr<std::vector<std::string>>::type fut)
{
    m_reading = false;
    const int rows = rowCount();
    if (m_writtenSinceRead) {
        m_writtenSinceRead = false;
        RefreshValues();
        emit ValuesGathered();
        return;
    }
    try {
        std::vector<std::string> texts = fut->get();
        if (texts.size() != m_values.size()) {
            m_values.swap(texts);
            ValuesChanged(0, rows - 1, ValueColumn, ValueColumn);
        } else {
            m_values.swap(texts);
            for (int row = 0; row < rows && row < int(m_values.size()); ++row) {
                if (m_values[row] != texts[row])
                    ValuesChanged(row, row, ValueColumn, ValueColumn);
            }
        }
    } catch (const Modbus::TimeoutError&) {
        ValuesChanged(0, rows - 1, ValueColumn, ValueColumn);
    } catch (const std::exception& e) {
        // Stopped before the box opens: showing the table again while the box is up restarts
        // the reads, and that must not be undone when the box closes.
        m_active = false;
        m_timer.stop();
        QMessageBox::critical(nullptr, QString(),
                              QStringLiteral("Error while reading parameter values: ") +
                                  QString::fromUtf8(e.what()));
        ValuesChanged(0, rows - 1, NameColumn, StorageColumn);
    }
    if (m_active && !m_reading)
        m_timer.start();
    emit ValuesGathered();
}

void ParamsTableModel::ValuesChanged(int firstRow, int lastRow, int firstColumn, int lastColumn)
{
    if (lastRow < firstRow)
        return;
    emit dataChanged(index(firstRow, firstColumn), index(lastRow, lastColumn));
}

const CardParameter* ParamsTableModel::Parameter(int row) const
{
    const CardParamsVec& params = m_accessor->Params();
    return row >= 0 && std::size_t(row) < params.size() ? &params[std::size_t(row)] : nullptr;
}

int ParamsTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_accessor->Params().size());
}

int ParamsTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 3;
}

QString ParamsTableModel::NameText(const CardParameter& param) const
{
    return QString::fromUtf8(param.name.c_str()).mid(m_prefixLength) + ":";
}

QString ParamsTableModel::StorageText(const CardParameter& param)
{
    switch (param.Storage()) {
    case CardParameter::namedVariableStorage:
        return QStringLiteral("Tool only");
    case CardParameter::coilStorage:
        return QStringLiteral("Coil %1").arg(param.address);
    case CardParameter::discreteInputStorage:
        return QStringLiteral("Discrete Input %1").arg(param.address);
    case CardParameter::holdingRegisterStorage:
    case CardParameter::inputRegisterStorage: {
        const double power = std::pow(10.0, param.Exponent());
        return QStringLiteral("%1 Register %2 and scale by %3")
            .arg(param.Storage() == CardParameter::holdingRegisterStorage ? "Holding" : "Input")
            .arg(param.address)
            .arg(param.Divides() ? 1.0 / power : power);
    }
    default:
        return QString();
    }
}

QVariant ParamsTableModel::data(const QModelIndex& index, int role) const
{
    const CardParameter* param = index.isValid() ? Parameter(index.row()) : nullptr;
    if (!param)
        return QVariant();
    const std::size_t row = std::size_t(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        switch (index.column()) {
        case NameColumn:
            return NameText(*param);
        case ValueColumn:
            if (row >= m_values.size())
                return role == Qt::DisplayRole ? QStringLiteral("...") : QString();
            if (role == Qt::EditRole)
                return QString::fromUtf8(m_values[row].c_str());
            return QStringLiteral("   %1 %2")
                .arg(QString::fromUtf8(m_values[row].c_str()),
                     QString::fromUtf8(param->units.c_str()));
        case StorageColumn:
            return role == Qt::DisplayRole ? StorageText(*param) : QVariant();
        default:
            return QVariant();
        }
    case Qt::TextAlignmentRole:
        if (index.column() == NameColumn)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        if (index.column() == ValueColumn)
            return int(Qt::AlignLeft | Qt::AlignVCenter);
        return QVariant();
    case Qt::BackgroundRole:
        return param->IsWritable() ? QVariant() : QVariant(QColor(Qt::lightGray));
    default:
        return QVariant();
    }
}

QVariant ParamsTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Vertical)
        return QString();
    switch (section) {
    case NameColumn:
        return QStringLiteral("Parameter");
    case ValueColumn:
        return QStringLiteral("Value");
    case StorageColumn:
        return QStringLiteral("Modbus register");
    default:
        return QVariant();
    }
}

Qt::ItemFlags ParamsTableModel::flags(const QModelIndex& index) const
{
    const CardParameter* param = index.isValid() ? Parameter(index.row()) : nullptr;
    if (!param)
        return Qt::NoItemFlags;
    if (index.column() == ValueColumn && param->IsWritable())
        return Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsEnabled;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled;
}

bool ParamsTableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || index.column() != ValueColumn || !Parameter(index.row()) ||
        std::size_t(index.row()) >= m_values.size())
        return false;
    const std::size_t row = std::size_t(index.row());
    const std::string text = value.toString().toUtf8().toStdString();
    if (text == m_values[row])
        return true;
    try {
        m_accessor->SetValue(unsigned(row), text).get();
    } catch (const std::exception& e) {
        QMessageBox::warning(nullptr, QString(),
                             QStringLiteral("Failed to write parameter value: ") +
                                 QString::fromUtf8(e.what()));
        return false;
    }
    m_values[row] = text;
    if (m_reading)
        m_writtenSinceRead = true;
    emit dataChanged(index, index);
    return true;
}
