// The configuration dialog: the program's only window. It owns the serial
// port handle, the frame and reply buffers, the three text fields' texts and
// the control objects.
#pragma once
#include <string>

#include "controls/NumEdit.h"
#include "framework/framework.h"
#include "protocol/frames.h"

class CMorvane2NewDlg : public CDialog {
public:
    explicit CMorvane2NewDlg(CWnd* pParent = nullptr);
    ~CMorvane2NewDlg() override;

    enum { IDD = 135 };

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    // One exchange with the printer for the frame in m_sendBuf; shows the
    // outcome or stores the value read.
    void SendCommand(int length, int operation);

    void OnBnClickedOpen();
    void OnBnClickedReadBtName();
    void OnBnClickedSetBtName();
    void OnBnClickedReadBtAddr();
    void OnBnClickedSetBtAddr();
    void OnBnClickedReadPairPass();
    void OnBnClickedSetPairPass();
    void OnBnClickedSetVisible();
    void OnBnClickedSetBtMode();
    void OnBnClickedSetBaud();
    void OnBnClickedSetDarkness();
    void OnBnClickedSetBeep();
    void OnBnClickedSetSleepTime();
    void OnBnClickedSetChineseMode();
    void OnBnClickedSetMarkSens();
    void OnBnClickedSetGapSens();
    void OnBnClickedSetPosition();
    void OnBnClickedSetLanguage();
    void OnBnClickedSetSensor();
    void OnBnClickedSetCmdSet();
    void OnBnClickedSetPaperWidth();

    HANDLE m_hCom;
    int m_nRecvLen;
    morvane::FrameBuffer m_sendBuf;
    morvane::ReplyBuffer m_recvBuf;
    CSpinButtonCtrl m_spinPos;
    CNumEdit m_editPos;
    CComboBox m_cbPort;
    CComboBox m_cbBaud;
    CComboBox m_cbLanguage;
    CComboBox m_cbVisible;
    CComboBox m_cbBtMode;
    CComboBox m_cbSetBaud;
    CComboBox m_cbDarkness;
    CComboBox m_cbBeep;
    CComboBox m_cbSleepTime;
    CComboBox m_cbChineseMode;
    CComboBox m_cbMarkSens;
    CComboBox m_cbGapSens;
    CComboBox m_cbSensor;
    CComboBox m_cbCmdSet;
    CComboBox m_cbPaperWidth;
    std::string m_strBtAddr;
    std::string m_strBtName;
    std::string m_strPairPass;

private:
    CComboBox* ListById(int controlId);
    void SendListSetting(morvane::ListSetting setting, const CComboBox& list);
    void ShowMessage(int textId, UINT icon);

    DECLARE_MESSAGE_MAP()
};
