#include "controls/NumEdit.h"

#include "controls/char_rule.h"

BEGIN_MESSAGE_MAP(CNumEdit, CEdit)
    ON_WM_CHAR()
END_MESSAGE_MAP()

CNumEdit::CNumEdit() : m_bAllowMinus(0) {}

CNumEdit::~CNumEdit() = default;

void CNumEdit::OnChar(UINT nChar, UINT, UINT) {
    std::string text;
    if (nChar == morvane::kCharMinus) GetWindowText(text);
    // A refused character is swallowed silently: no beep, no change.
    if (morvane::AcceptsChar(nChar, m_bAllowMinus != 0, text)) Default();
}
