#include "dialog/Morvane2NewDlg.h"

#include "dialog/dialog_lists.h"
#include "dialog/resource.h"
#include "port/serial_port.h"
#include "port/tarnport.h"
#include "protocol/exchange.h"
#include "protocol/port_kind.h"
#include "protocol/text_number.h"

// The exchange names its messages by the dialog's string ids.
static_assert(morvane::kMsgPrompt == IDS_PROMPT && morvane::kMsgOpenPortFirst == IDS_OPEN_PORT_FIRST &&
              morvane::kMsgNoAnswer == IDS_PRINTER_NO_ANSWER && morvane::kMsgSendFail == IDS_REQUEST_SEND_FAIL &&
              morvane::kMsgSetFail == IDS_SET_FAIL && morvane::kMsgSetSuccess == IDS_SET_SUCCESS &&
              morvane::kMsgReadFail == IDS_READ_FAIL);

namespace {

constexpr int kMaxFieldChars = 20;  // the three Bluetooth text fields
constexpr char kInitialPosition[] = "28";
// Where the up-down buttons stop; the field itself sends any six-character
// number (morvane::kPositionMin to kPositionMax), typed in by hand.
constexpr int kPositionSpinLow = -255;
constexpr int kPositionSpinHigh = 255;

// The exchange's view of the port the Open button opened.
class OpenedSerialPort : public morvane::SerialPath {
public:
    explicit OpenedSerialPort(HANDLE port) : m_port(port) {}
    bool IsOpen() const override { return morvane::IsPortOpen(m_port); }
    bool WriteFrame(const std::uint8_t* frame, int length) override {
        return morvane::WriteSerialFrame(m_port, frame, length);
    }
    int ReadReply(std::uint8_t* buf, int wanted) override { return morvane::ReadSerialReply(m_port, buf, wanted); }

private:
    HANDLE m_port;
};

// The port library bound at load time (TarnPortDll.dll).
class LoadedPortLibrary : public morvane::PortLibrary {
public:
    int ClosePort(const char* port) override { return ::ClosePort(port); }
    int SetComParam(const char* port, int baud, int dataBits, char parity, int stopBits, int flags) override {
        return ::SetComParam(port, baud, dataBits, parity, stopBits, flags);
    }
    int SendData(const char* port, const std::uint8_t* data, int length) override {
        return ::SendData(port, data, length);
    }
    int ReadData(const char* port, std::uint8_t* buf, int maxCount) override { return ::ReadData(port, buf, maxCount); }
};

// The exchange's waits block the user-interface thread, as the dialog expects.
class ThreadPause : public morvane::Pause {
public:
    void Sleep(unsigned milliseconds) override { ::Sleep(milliseconds); }
};

void AddItems(CComboBox& list, const std::vector<std::string>& items) {
    for (const std::string& item : items) list.AddString(item.c_str());
}

}  // namespace

BEGIN_MESSAGE_MAP(CMorvane2NewDlg, CDialog)
    ON_BN_CLICKED(IDC_BTN_OPEN, &CMorvane2NewDlg::OnBnClickedOpen)
    ON_BN_CLICKED(IDC_BTN_READ_BT_NAME, &CMorvane2NewDlg::OnBnClickedReadBtName)
    ON_BN_CLICKED(IDC_BTN_SET_BT_NAME, &CMorvane2NewDlg::OnBnClickedSetBtName)
    ON_BN_CLICKED(IDC_BTN_READ_BT_ADDR, &CMorvane2NewDlg::OnBnClickedReadBtAddr)
    ON_BN_CLICKED(IDC_BTN_SET_BT_ADDR, &CMorvane2NewDlg::OnBnClickedSetBtAddr)
    ON_BN_CLICKED(IDC_BTN_READ_PAIR_PASS, &CMorvane2NewDlg::OnBnClickedReadPairPass)
    ON_BN_CLICKED(IDC_BTN_SET_PAIR_PASS, &CMorvane2NewDlg::OnBnClickedSetPairPass)
    ON_BN_CLICKED(IDC_BTN_SET_VISIBLE, &CMorvane2NewDlg::OnBnClickedSetVisible)
    ON_BN_CLICKED(IDC_BTN_SET_BT_MODE, &CMorvane2NewDlg::OnBnClickedSetBtMode)
    ON_BN_CLICKED(IDC_BTN_SET_BAUD, &CMorvane2NewDlg::OnBnClickedSetBaud)
    ON_BN_CLICKED(IDC_BTN_SET_BEEP, &CMorvane2NewDlg::OnBnClickedSetBeep)
    ON_BN_CLICKED(IDC_BTN_SET_SLEEP_TIME, &CMorvane2NewDlg::OnBnClickedSetSleepTime)
    ON_BN_CLICKED(IDC_BTN_SET_CHINESE_MODE, &CMorvane2NewDlg::OnBnClickedSetChineseMode)
    ON_BN_CLICKED(IDC_BTN_SET_MARK_SENS, &CMorvane2NewDlg::OnBnClickedSetMarkSens)
    ON_BN_CLICKED(IDC_BTN_SET_GAP_SENS, &CMorvane2NewDlg::OnBnClickedSetGapSens)
    ON_BN_CLICKED(IDC_BTN_SET_POSITION, &CMorvane2NewDlg::OnBnClickedSetPosition)
    ON_BN_CLICKED(IDC_BTN_SET_SENSOR, &CMorvane2NewDlg::OnBnClickedSetSensor)
    ON_BN_CLICKED(IDC_BTN_SET_DARKNESS, &CMorvane2NewDlg::OnBnClickedSetDarkness)
    ON_BN_CLICKED(IDC_BTN_SET_CMD_SET, &CMorvane2NewDlg::OnBnClickedSetCmdSet)
    ON_BN_CLICKED(IDC_BTN_SET_PAPER_WIDTH, &CMorvane2NewDlg::OnBnClickedSetPaperWidth)
    ON_BN_CLICKED(IDC_BTN_SET_LANGUAGE, &CMorvane2NewDlg::OnBnClickedSetLanguage)
END_MESSAGE_MAP()

CMorvane2NewDlg::CMorvane2NewDlg(CWnd* pParent) : CDialog(IDD, pParent), m_hCom(nullptr) {}

// Closes no port: whatever is still open is released when the process ends.
CMorvane2NewDlg::~CMorvane2NewDlg() = default;

void CMorvane2NewDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_SPIN_POSITION, m_spinPos);
    DDX_Control(pDX, IDC_EDIT_POSITION, m_editPos);
    DDX_Control(pDX, IDC_CB_PORT, m_cbPort);
    DDX_Control(pDX, IDC_CB_BAUD, m_cbBaud);
    DDX_Control(pDX, IDC_CB_LANGUAGE, m_cbLanguage);
    DDX_Control(pDX, IDC_CB_VISIBLE, m_cbVisible);
    DDX_Control(pDX, IDC_CB_BT_MODE, m_cbBtMode);
    DDX_Control(pDX, IDC_CB_SET_BAUD, m_cbSetBaud);
    DDX_Control(pDX, IDC_CB_DARKNESS, m_cbDarkness);
    DDX_Control(pDX, IDC_CB_BEEP, m_cbBeep);
    DDX_Control(pDX, IDC_CB_SLEEP_TIME, m_cbSleepTime);
    DDX_Control(pDX, IDC_CB_CHINESE_MODE, m_cbChineseMode);
    DDX_Control(pDX, IDC_CB_MARK_SENS, m_cbMarkSens);
    DDX_Control(pDX, IDC_CB_GAP_SENS, m_cbGapSens);
    DDX_Control(pDX, IDC_CB_SENSOR, m_cbSensor);
    DDX_Control(pDX, IDC_CB_CMD_SET, m_cbCmdSet);
    DDX_Control(pDX, IDC_CB_PAPER_WIDTH, m_cbPaperWidth);
    DDX_Text(pDX, IDC_EDIT_BT_ADDR, m_strBtAddr);
    DDV_MaxChars(pDX, m_strBtAddr, kMaxFieldChars);
    DDX_Text(pDX, IDC_EDIT_BT_NAME, m_strBtName);
    DDV_MaxChars(pDX, m_strBtName, kMaxFieldChars);
    DDX_Text(pDX, IDC_EDIT_PAIR_PASS, m_strPairPass);
    DDV_MaxChars(pDX, m_strPairPass, kMaxFieldChars);
}

CComboBox* CMorvane2NewDlg::ListById(int controlId) {
    switch (controlId) {
        case IDC_CB_PORT: return &m_cbPort;
        case IDC_CB_BAUD: return &m_cbBaud;
        case IDC_CB_LANGUAGE: return &m_cbLanguage;
        case IDC_CB_VISIBLE: return &m_cbVisible;
        case IDC_CB_BT_MODE: return &m_cbBtMode;
        case IDC_CB_SET_BAUD: return &m_cbSetBaud;
        case IDC_CB_DARKNESS: return &m_cbDarkness;
        case IDC_CB_BEEP: return &m_cbBeep;
        case IDC_CB_SLEEP_TIME: return &m_cbSleepTime;
        case IDC_CB_CHINESE_MODE: return &m_cbChineseMode;
        case IDC_CB_MARK_SENS: return &m_cbMarkSens;
        case IDC_CB_GAP_SENS: return &m_cbGapSens;
        case IDC_CB_SENSOR: return &m_cbSensor;
        case IDC_CB_CMD_SET: return &m_cbCmdSet;
        case IDC_CB_PAPER_WIDTH: return &m_cbPaperWidth;
        default: return nullptr;
    }
}

BOOL CMorvane2NewDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    // The port library says how many USB and LPT ports to list after the
    // 255 serial ones, and whether the machine has serial ports to preselect.
    // The three counts are asked for in this order, one statement each.
    const int comMax = GetCOMMax();
    const int usbCount = GetUSBPort();
    const int lptCount = GetLPTMax();
    const morvane::PortList ports = morvane::BuildPortList(comMax, usbCount, lptCount);
    AddItems(m_cbPort, ports.items);
    if (ports.selection != morvane::kNoSelection) m_cbPort.SetCurSel(ports.selection);

    for (const morvane::ListContents& list : morvane::SettingLists()) {
        CComboBox* combo = ListById(list.controlId);
        if (combo == nullptr) continue;
        for (const morvane::ListItem& item : list.items) {
            const std::string text = item.stringId != 0 ? AfxLoadString(static_cast<UINT>(item.stringId)) : item.text;
            combo->AddString(text.c_str());
        }
        combo->SetCurSel(list.initialSelection);
    }

    m_editPos.m_bAllowMinus = 1;
    m_editPos.SetWindowText(kInitialPosition);
    m_spinPos.SetBuddy(&m_editPos);
    m_spinPos.SetRange32(kPositionSpinLow, kPositionSpinHigh);
    return TRUE;
}

void CMorvane2NewDlg::ShowMessage(int textId, UINT icon) {
    const std::string caption = AfxLoadString(IDS_PROMPT);
    const std::string text = AfxLoadString(static_cast<UINT>(textId));
    MessageBox(text.c_str(), caption.c_str(), icon | MB_OK);
}

void CMorvane2NewDlg::SendCommand(int length, int operation) {
    const std::string portName = m_cbPort.GetWindowTextString();

    OpenedSerialPort serial(m_hCom);
    LoadedPortLibrary library;
    ThreadPause pause;
    const morvane::ExchangeResult result =
        morvane::RunExchange(portName, m_sendBuf, length, operation, m_recvBuf, m_nRecvLen, serial, library, pause);

    switch (result.kind) {
        case morvane::ExchangeResult::Kind::Message:
            ShowMessage(result.messageId,
                        result.icon == morvane::MessageIcon::Warning ? MB_ICONEXCLAMATION : MB_ICONINFORMATION);
            break;
        case morvane::ExchangeResult::Kind::Value:
            switch (result.valueOperation) {
                case morvane::kOpReadName: m_strBtName = result.value; break;
                case morvane::kOpReadAddress: m_strBtAddr = result.value; break;
                case morvane::kOpReadPassword: m_strPairPass = result.value; break;
                default: break;
            }
            // All three fields show their stored texts again.
            UpdateData(FALSE);
            break;
        case morvane::ExchangeResult::Kind::Nothing: break;
    }
}

// --- the Open button ----------------------------------------------------------

void CMorvane2NewDlg::OnBnClickedOpen() {
    const std::string portName = m_cbPort.GetWindowTextString();
    CWnd* button = GetDlgItem(IDC_BTN_OPEN);

    // USB and LPT ports are prepared by the port library at every exchange:
    // there is nothing to open for them.
    if (!morvane::IsSerialPortName(portName)) {
        button->SetWindowText(AfxLoadString(IDS_CONNECT).c_str());
        return;
    }
    if (morvane::IsPortOpen(m_hCom)) {
        morvane::CloseSerialPort(m_hCom);
        m_hCom = nullptr;
        button->SetWindowText(AfxLoadString(IDS_OPEN).c_str());
        return;
    }
    const int baudRate = morvane::TextToNumber(m_cbBaud.GetWindowTextString());
    m_hCom = morvane::OpenSerialPort(portName.c_str(), baudRate);
    if (morvane::IsPortOpen(m_hCom)) {
        button->SetWindowText(AfxLoadString(IDS_CLOSE).c_str());
    } else {
        ShowMessage(IDS_PORT_OPEN_FAIL, MB_ICONEXCLAMATION);
    }
}

// --- Read and Set buttons -----------------------------------------------------

void CMorvane2NewDlg::SendListSetting(morvane::ListSetting setting, const CComboBox& list) {
    const morvane::Frame frame = morvane::BuildListSetting(m_sendBuf, setting, list.GetCurSel());
    SendCommand(frame.length, frame.operation);
}

void CMorvane2NewDlg::OnBnClickedReadBtName() {
    const morvane::Frame frame = morvane::BuildReadName(m_sendBuf);
    SendCommand(frame.length, frame.operation);
}

void CMorvane2NewDlg::OnBnClickedSetBtName() {
    // Stores all three fields; a failed length check has told the user, and
    // the stored name is sent all the same.
    UpdateData(TRUE);
    const morvane::Frame frame = morvane::BuildSetName(m_sendBuf, m_strBtName);
    SendCommand(frame.length, frame.operation);
}

void CMorvane2NewDlg::OnBnClickedReadBtAddr() {
    const morvane::Frame frame = morvane::BuildReadAddress(m_sendBuf);
    SendCommand(frame.length, frame.operation);
}

// The address can be read but not set: the button is hidden and disabled,
// and no frame exists to set it.
void CMorvane2NewDlg::OnBnClickedSetBtAddr() {}

void CMorvane2NewDlg::OnBnClickedReadPairPass() {
    const morvane::Frame frame = morvane::BuildReadPassword(m_sendBuf);
    SendCommand(frame.length, frame.operation);
}

void CMorvane2NewDlg::OnBnClickedSetPairPass() {
    UpdateData(TRUE);
    const morvane::Frame frame = morvane::BuildSetPassword(m_sendBuf, m_strPairPass);
    SendCommand(frame.length, frame.operation);
}

void CMorvane2NewDlg::OnBnClickedSetVisible() { SendListSetting(morvane::ListSetting::Visibility, m_cbVisible); }

void CMorvane2NewDlg::OnBnClickedSetBtMode() { SendListSetting(morvane::ListSetting::BtMode, m_cbBtMode); }

void CMorvane2NewDlg::OnBnClickedSetBaud() { SendListSetting(morvane::ListSetting::BaudRate, m_cbSetBaud); }

void CMorvane2NewDlg::OnBnClickedSetDarkness() { SendListSetting(morvane::ListSetting::Darkness, m_cbDarkness); }

void CMorvane2NewDlg::OnBnClickedSetBeep() { SendListSetting(morvane::ListSetting::Beeper, m_cbBeep); }

void CMorvane2NewDlg::OnBnClickedSetSleepTime() { SendListSetting(morvane::ListSetting::SleepTime, m_cbSleepTime); }

void CMorvane2NewDlg::OnBnClickedSetChineseMode() {
    const morvane::Frame frame = morvane::BuildChineseMode(m_sendBuf, m_cbChineseMode.GetCurSel());
    SendCommand(frame.length, frame.operation);
}

void CMorvane2NewDlg::OnBnClickedSetMarkSens() { SendListSetting(morvane::ListSetting::MarkSensitivity, m_cbMarkSens); }

void CMorvane2NewDlg::OnBnClickedSetGapSens() { SendListSetting(morvane::ListSetting::GapSensitivity, m_cbGapSens); }

void CMorvane2NewDlg::OnBnClickedSetPosition() {
    // Read straight from the control: the position takes no part in the
    // data exchange.
    const std::int32_t position = morvane::TextToNumber(m_editPos.GetWindowTextString());
    const morvane::Frame frame = morvane::BuildPosition(m_sendBuf, position);
    SendCommand(frame.length, frame.operation);
}

void CMorvane2NewDlg::OnBnClickedSetLanguage() { SendListSetting(morvane::ListSetting::Language, m_cbLanguage); }

void CMorvane2NewDlg::OnBnClickedSetSensor() { SendListSetting(morvane::ListSetting::PaperSensor, m_cbSensor); }

void CMorvane2NewDlg::OnBnClickedSetCmdSet() { SendListSetting(morvane::ListSetting::CommandSet, m_cbCmdSet); }

void CMorvane2NewDlg::OnBnClickedSetPaperWidth() { SendListSetting(morvane::ListSetting::PaperWidth, m_cbPaperWidth); }
