// An edit control that lets the user type only digits, backspace and, where
// its owner allows it, one minus sign. Text set by the program, a buddy
// control or the clipboard is not filtered.
#pragma once
#include "framework/framework.h"

class CNumEdit : public CEdit {
public:
    CNumEdit();
    ~CNumEdit() override;

    int m_bAllowMinus;

protected:
    void OnChar(UINT nChar, UINT nRepCnt, UINT nFlags);

    DECLARE_MESSAGE_MAP()
};
