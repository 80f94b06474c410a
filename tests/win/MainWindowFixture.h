// The main window opened modeless for one test and closed after it, for tests that act on it
// directly rather than through its modal loop.
#pragma once

#include "WindowTestSupport.h"
#include "app/KorvaleDlg.h"
#include "resource.h"

#include <gtest/gtest.h>

namespace test {

class MainWindowFixture : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dialog.Create(IDD_MAIN, nullptr));
        PumpMessages(m_dialog.m_hWnd);
    }
    void TearDown() override
    {
        m_dialog.DestroyWindow();
        PumpMessages(nullptr);
    }

    CKorvaleDlg m_dialog;
};

} // namespace test
