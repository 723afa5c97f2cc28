#include "widgets/ConfigInfoWindow.h"

#include <boost/exception_ptr.hpp>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>

#include "modbus/ModbusErrors.h"
#include "protocol/TolvarenCommsCommon.h"
#include "ui_ConfigInfoWindow.h"

namespace {

const char* const waitingText = "Waiting for card response...";
const char* const unsupportedText = "Failed to read card configuration - newer firmware required.";

} // namespace

ConfigInfoWindow::ConfigInfoWindow(ModbusMasterDatalink& datalink, QWidget* parent)
    : QWidget(parent, Qt::Window), m_ui(new Ui::ConfigInfoWindow),
      m_comms(new TolvarenCommsCommon(datalink))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_QuitOnClose, false);
    m_ui->setupUi(this);
    setWindowTitle("Card configuration");

    m_refreshTimer.setSingleShot(true);
    connect(&m_refreshTimer, &QTimer::timeout, this, &ConfigInfoWindow::GetNextChunkOfData);
    m_refreshTimer.start(0);
}

ConfigInfoWindow::~ConfigInfoWindow()
{
    m_refreshTimer.stop();
    if (m_relay)
        m_relay->Close();
}

void ConfigInfoWindow::GetNextChunkOfData()
{
    // One request at a time: the next is asked for when this one has been handled.
    if (m_relay)
        return;
    try {
        RequestText();
    } catch (const std::exception&) {
        // No thread for the delivery: nothing is outstanding; try again later.
        if (m_relay)
            m_relay->Close();
        m_relay.reset();
        m_refreshTimer.start(refreshIntervalMs);
    }
}

// The request goes to the card access object's master directly rather than through
// GetConfigText, whose continuation that object waits for when it is destroyed: closing the
// window while the card is slow to answer would freeze the user interface until the reply or its
// time-out. Here nothing waits for the card but the relay.
void ConfigInfoWindow::RequestText()
{
    auto relay = std::make_shared<ReplyRelay<std::string>>();
    boost::future<std::string> text = relay->Future();
    boost::future<ByteVec> reply;
    try {
        auto lock = m_comms->LockMaster();
        reply = m_comms->master.SendQelCommand(TolvarenCommsCommon::QEL_GET_CONFIG_TEXT);
    } catch (...) {
        boost::promise<ByteVec> failed;
        failed.set_exception(boost::current_exception());
        reply = failed.get_future();
    }
    // Runs on whichever thread completes the request and touches nothing but the relay, which
    // it keeps alive; the window may be gone by then.
    reply.then(boost::launch::sync, [relay](boost::future<ByteVec> done) {
        relay->Complete(
            done, [](const ByteVec& bytes) { return std::string(bytes.begin(), bytes.end()); });
    });

    m_relay = relay;
    ThenDeliverToSlot(m_calls, std::move(text), this, "HandleNewData");
}

void ConfigInfoWindow::HandleNewData(FuturePtr<std::string>::type fut)
{
    m_relay.reset();
    if (!fut)
        return;
    QString text;
    try {
        const std::string bytes = fut->get();
        text = QString::fromUtf8(bytes.data(), int(bytes.size()));
    } catch (const Modbus::TimeoutError&) {
        text = waitingText;
    } catch (const Modbus::Error&) {
        text = unsupportedText;
    } catch (const std::exception&) {
        // The link itself failed (no port, port gone): for the user the card is not answering,
        // and the window keeps asking until it does.
        text = waitingText;
    }
    if (text != m_lastText) {
        m_ui->dipswitchConfigWidget->setPlainText(text);
        m_lastText = text;
    }
    m_refreshTimer.start(refreshIntervalMs);
}
