// The skinned controls on a dialog of their own, judged by what they paint and what their windows
// report: the PNG button's size, shape, pictures and clicks, the gradient bar's bands and
// background, the colour label's colours and repainting, and the digit-only edit.
#include "controls/ColorStatic.h"
#include "controls/GradientProgressCtrl.h"
#include "controls/NumEdit.h"
#include "controls/PngButton.h"
#include "framework/Dialog.h"
#include "framework/WinApp.h"
#include "TestResource.h"
#include "WindowTestSupport.h"

#include <gtest/gtest.h>

#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The strip the button tests load: four pictures of 100 x 30, each in its own colour. Picture k
// is fully transparent in its corner k and has alpha 1 in the opposite corner, so every picture
// has a shape of its own and a barely visible pixel still belongs to the button.
constexpr int kStripWidth = 400;
constexpr int kStripHeight = 30;
constexpr int kPictureWidth = kStripWidth / 4;
constexpr int kCornerBlock = 8;
constexpr COLORREF kPictureColours[4] = {RGB(220, 40, 40), RGB(40, 200, 40), RGB(40, 40, 220),
                                         RGB(210, 200, 40)};
constexpr POINT kButtonCentre{kPictureWidth / 2, kStripHeight / 2};

// A colour none of the system's defaults has, for the parts whose colour the tests choose.
constexpr COLORREF kMagenta = RGB(255, 0, 255);

bool NearColour(COLORREF a, COLORREF b, int tolerance)
{
    return std::abs(GetRValue(a) - GetRValue(b)) <= tolerance &&
           std::abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
           std::abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

// Corners: 0 top-left, 1 top-right, 2 bottom-right, 3 bottom-left.
POINT CornerOrigin(int corner)
{
    return POINT{corner == 1 || corner == 2 ? kPictureWidth - kCornerBlock : 0,
                 corner >= 2 ? kStripHeight - kCornerBlock : 0};
}

bool InCorner(int corner, int x, int y)
{
    const POINT origin = CornerOrigin(corner);
    return x >= origin.x && x < origin.x + kCornerBlock && y >= origin.y &&
           y < origin.y + kCornerBlock;
}

bool FindEncoder(const wchar_t* mimeType, CLSID& encoder)
{
    UINT count = 0;
    UINT size = 0;
    if (Gdiplus::GetImageEncodersSize(&count, &size) != Gdiplus::Ok || size == 0)
        return false;
    std::vector<std::uint64_t> buffer(size / sizeof(std::uint64_t) + 1);
    auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    if (Gdiplus::GetImageEncoders(count, size, codecs) != Gdiplus::Ok)
        return false;
    for (UINT i = 0; i < count; ++i) {
        if (std::wcscmp(codecs[i].MimeType, mimeType) == 0) {
            encoder = codecs[i].Clsid;
            return true;
        }
    }
    return false;
}

// Writes the strip to a fresh temporary file; empty on failure.
std::wstring WriteStrip()
{
    Gdiplus::Bitmap strip(kStripWidth, kStripHeight, PixelFormat32bppARGB);
    Gdiplus::Rect whole(0, 0, kStripWidth, kStripHeight);
    Gdiplus::BitmapData pixels{};
    if (strip.LockBits(&whole, Gdiplus::ImageLockModeWrite, PixelFormat32bppARGB, &pixels) !=
        Gdiplus::Ok)
        return {};
    for (int y = 0; y < kStripHeight; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(pixels.Scan0) +
                                                     y * pixels.Stride);
        for (int x = 0; x < kStripWidth; ++x) {
            const int picture = x / kPictureWidth;
            const int local = x % kPictureWidth;
            const COLORREF colour = kPictureColours[picture];
            std::uint32_t alpha = 255;
            if (InCorner(picture, local, y))
                alpha = 0;
            else if (InCorner((picture + 2) % 4, local, y))
                alpha = 1;
            row[x] = alpha << 24 | std::uint32_t{GetRValue(colour)} << 16 |
                     std::uint32_t{GetGValue(colour)} << 8 | GetBValue(colour);
        }
    }
    strip.UnlockBits(&pixels);

    CLSID png{};
    wchar_t folder[MAX_PATH];
    wchar_t path[MAX_PATH];
    if (!FindEncoder(L"image/png", png) || ::GetTempPathW(MAX_PATH, folder) == 0 ||
        ::GetTempFileNameW(folder, L"png", 0, path) == 0)
        return {};
    if (strip.Save(path, &png, nullptr) != Gdiplus::Ok) {
        ::DeleteFileW(path);
        return {};
    }
    return path;
}

std::wstring SkinFile(const wchar_t* name)
{
    std::wstring path = fw::ModulePath();
    path.resize(path.rfind(L'\\') + 1);
    return path + L"Skin\\" + name;
}

// What a window shows at a point of its client area, after it has handled its pending paints.
COLORREF PaintedPixel(HWND window, int x, int y)
{
    ::UpdateWindow(window);
    HDC dc = ::GetDC(window);
    const COLORREF pixel = ::GetPixel(dc, x, y);
    ::ReleaseDC(window, dc);
    return pixel;
}

// A row of a window's client area, fully repainted first.
std::vector<COLORREF> RepaintedRow(HWND window, int y)
{
    ::InvalidateRect(window, nullptr, FALSE);
    ::UpdateWindow(window);
    RECT client{};
    ::GetClientRect(window, &client);
    std::vector<COLORREF> row;
    HDC dc = ::GetDC(window);
    for (int x = 0; x < client.right; ++x)
        row.push_back(::GetPixel(dc, x, y));
    ::ReleaseDC(window, dc);
    return row;
}

RECT RectInParent(HWND child)
{
    RECT rect{};
    ::GetWindowRect(child, &rect);
    ::MapWindowPoints(nullptr, ::GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

bool PutTextOnClipboard(HWND owner, const std::wstring& text)
{
    if (!::OpenClipboard(owner))
        return false;
    ::EmptyClipboard();
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
    bool placed = false;
    if (memory != nullptr) {
        std::memcpy(::GlobalLock(memory), text.c_str(), bytes);
        ::GlobalUnlock(memory);
        placed = ::SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
        if (!placed)
            ::GlobalFree(memory);
    }
    ::CloseClipboard();
    return placed;
}

class SkinDialog : public fw::CDialog {
public:
    SkinDialog() : CDialog(IDD_TEST_SKIN) {}

    CPngButton m_button;
    CNumEdit m_edit;
    CColorStatic m_label;
    CGradientProgressCtrl m_progress;
    int m_clicks = 0;

protected:
    void DoDataExchange(fw::CDataExchange* dx) override
    {
        fw::DDX_Control(dx, IDC_SKIN_BUTTON, m_button);
        fw::DDX_Control(dx, IDC_SKIN_EDIT, m_edit);
        fw::DDX_Control(dx, IDC_SKIN_LABEL, m_label);
        fw::DDX_Control(dx, IDC_SKIN_PROGRESS, m_progress);
    }
    void OnButton() { ++m_clicks; }

    DECLARE_MESSAGE_MAP()
};

// No control-colour entry: the dialog leaves those requests to the framework, so the label
// answers them itself.
BEGIN_MESSAGE_MAP(SkinDialog, fw::CDialog)
    ON_BN_CLICKED(IDC_SKIN_BUTTON, OnButton)
END_MESSAGE_MAP()

class Skinned : public testing::Test {
protected:
    void SetUp() override
    {
        // The real pointer stays far from the dialog, or it would bring the hover picture.
        ::SetCursorPos(::GetSystemMetrics(SM_CXSCREEN) - 1, ::GetSystemMetrics(SM_CYSCREEN) - 1);
        ASSERT_TRUE(m_dialog.Create(IDD_TEST_SKIN, nullptr));
        ::SetWindowPos(m_dialog.m_hWnd, nullptr, 40, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        test::PumpMessages(m_dialog.m_hWnd);
    }
    void TearDown() override
    {
        m_dialog.DestroyWindow();
        test::PumpMessages(nullptr);
    }

    SkinDialog m_dialog;
};

// ---------------------------------------------------------------------------------------------
// PNG button

class SkinnedButton : public Skinned {
protected:
    void SetUp() override
    {
        Skinned::SetUp();
        m_stripPath = WriteStrip();
        ASSERT_FALSE(m_stripPath.empty()) << "could not write the test strip with GDI+";
    }
    void TearDown() override
    {
        Skinned::TearDown();
        if (!m_stripPath.empty())
            ::DeleteFileW(m_stripPath.c_str());
    }

    HWND Button() const { return m_dialog.m_button.m_hWnd; }

    // The picture the button shows at its centre, by colour; -1 when it is none of them.
    int ShownPicture() const
    {
        const COLORREF pixel = PaintedPixel(Button(), kButtonCentre.x, kButtonCentre.y);
        for (int picture = 0; picture < 4; ++picture) {
            if (NearColour(pixel, kPictureColours[picture], 4))
                return picture;
        }
        ADD_FAILURE() << "the centre shows none of the pictures: " << std::hex << pixel;
        return -1;
    }

    // Bit k set when the window's shape holds corner k; bit 4 for the centre.
    int ShapeMask() const
    {
        HRGN shape = ::CreateRectRgn(0, 0, 0, 0);
        int mask = 0;
        if (::GetWindowRgn(Button(), shape) != ERROR) {
            for (int corner = 0; corner < 4; ++corner) {
                const POINT origin = CornerOrigin(corner);
                if (::PtInRegion(shape, origin.x + kCornerBlock / 2, origin.y + kCornerBlock / 2))
                    mask |= 1 << corner;
            }
            if (::PtInRegion(shape, kButtonCentre.x, kButtonCentre.y))
                mask |= 1 << 4;
        }
        ::DeleteObject(shape);
        return mask;
    }
    static int ShapeOfPicture(int picture) { return 0x1F & ~(1 << picture); }

    std::wstring m_stripPath;
};

TEST_F(SkinnedButton, PictureSizesTheButtonWhereTheTemplatePutIt)
{
    const RECT placed = RectInParent(Button());
    ASSERT_NE(placed.right - placed.left, kPictureWidth); // the template's size is not the answer
    struct {
        const char* name;
        std::wstring path;
        int width;
        int height;
    } const cases[] = {
        {"strip of 400 x 30", m_stripPath, 100, 30},
        {"skin close.png, 96 x 24", SkinFile(L"close.png"), 24, 24},
        {"missing file", SkinFile(L"no-such-picture.png"), 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_dialog.m_button.LoadPngFile(c.path);
        const RECT rect = RectInParent(Button());
        EXPECT_EQ(rect.left, placed.left);
        EXPECT_EQ(rect.top, placed.top);
        EXPECT_EQ(rect.right - rect.left, c.width);
        EXPECT_EQ(rect.bottom - rect.top, c.height);
        EXPECT_EQ(m_dialog.m_button.m_frameWidth, c.width);
        EXPECT_EQ(m_dialog.m_button.m_imageHeight, c.height);
    }
}

TEST_F(SkinnedButton, PictureAndShapeFollowTheLook)
{
    m_dialog.m_button.LoadPngFile(m_stripPath);
    struct {
        const char* name;
        bool hover;
        bool holdPressed;
        bool pushed;
        bool disabled;
        int picture;
    } const cases[] = {
        {"normal", false, false, false, false, 0},
        {"mouse over", true, false, false, false, 1},
        {"pushed", false, false, true, false, 2},
        {"pushed with the mouse over", true, false, true, false, 2},
        {"held pressed, mouse elsewhere", false, true, false, false, 2},
        {"held pressed, mouse over", true, true, false, false, 2},
        {"disabled", false, false, false, true, 3},
        {"disabled though held pressed", false, true, false, true, 3},
        {"disabled with the mouse over", true, false, false, true, 3},
        {"normal again", false, false, false, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CPngButton& button = m_dialog.m_button;
        button.m_hover = FALSE;
        button.m_holdPressed = c.holdPressed;
        ::EnableWindow(Button(), !c.disabled);
        button.SendMessage(BM_SETSTATE, c.pushed);
        if (c.hover)
            button.SendMessage(WM_MOUSEHOVER, 0, MAKELPARAM(kButtonCentre.x, kButtonCentre.y));
        button.Invalidate();
        EXPECT_EQ(ShownPicture(), c.picture);
        EXPECT_EQ(ShapeMask(), ShapeOfPicture(c.picture));
    }
}

TEST_F(SkinnedButton, LeavingAfterHoverShowsTheNormalPictureAgain)
{
    CPngButton& button = m_dialog.m_button;
    button.LoadPngFile(m_stripPath);
    EXPECT_EQ(ShownPicture(), 0);

    button.SendMessage(WM_MOUSEHOVER, 0, MAKELPARAM(kButtonCentre.x, kButtonCentre.y));
    EXPECT_EQ(ShownPicture(), 1);
    EXPECT_EQ(ShapeMask(), ShapeOfPicture(1));

    button.m_tracking = TRUE; // as during a tracked visit of the mouse
    button.SendMessage(WM_MOUSELEAVE);
    EXPECT_FALSE(button.m_hover);
    EXPECT_FALSE(button.m_tracking);
    EXPECT_EQ(ShownPicture(), 0);
    EXPECT_EQ(ShapeMask(), ShapeOfPicture(0));
}

TEST_F(SkinnedButton, RealPointerOverTheButtonBringsHoverAndTakesItAway)
{
    m_dialog.m_button.LoadPngFile(m_stripPath);
    ASSERT_EQ(ShownPicture(), 0);

    auto waitForPicture = [this](int picture) {
        for (int tries = 0; tries < 100; ++tries) {
            test::PumpMessages(m_dialog.m_hWnd);
            if (ShownPicture() == picture)
                return true;
            ::Sleep(20);
        }
        return false;
    };
    POINT centre = kButtonCentre;
    ::ClientToScreen(Button(), &centre);
    ::SetCursorPos(centre.x, centre.y);
    EXPECT_TRUE(waitForPicture(1));
    ::SetCursorPos(::GetSystemMetrics(SM_CXSCREEN) - 1, ::GetSystemMetrics(SM_CYSCREEN) - 1);
    EXPECT_TRUE(waitForPicture(0));
    EXPECT_FALSE(m_dialog.m_button.m_tracking);
}

TEST_F(SkinnedButton, TransparentPixelsAreNotPartOfTheWindow)
{
    m_dialog.m_button.LoadPngFile(m_stripPath);
    ::UpdateWindow(m_dialog.m_hWnd);
    // Picture 0: transparent top-left corner; alpha 1 bottom-right still belongs to the button.
    EXPECT_EQ(ShapeMask(), ShapeOfPicture(0));

    auto windowAt = [this](POINT point) {
        ::ClientToScreen(Button(), &point);
        return ::WindowFromPoint(point);
    };
    const POINT transparent{kCornerBlock / 2, kCornerBlock / 2};
    const POINT faint{kPictureWidth - kCornerBlock / 2, kStripHeight - kCornerBlock / 2};
    EXPECT_EQ(windowAt(transparent), m_dialog.m_hWnd);
    EXPECT_EQ(windowAt(faint), Button());
    EXPECT_EQ(windowAt(kButtonCentre), Button());
}

TEST_F(SkinnedButton, EveryClickOfADoubleClickReachesTheParent)
{
    m_dialog.m_button.LoadPngFile(m_stripPath);
    const LPARAM at = MAKELPARAM(kButtonCentre.x, kButtonCentre.y);
    struct {
        const char* name;
        std::vector<UINT> messages;
        int clicks;
    } const cases[] = {
        {"single click", {WM_LBUTTONDOWN, WM_LBUTTONUP}, 1},
        {"double click", {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_dialog.m_clicks = 0;
        for (UINT message : c.messages)
            m_dialog.m_button.SendMessage(message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON, at);
        test::PumpMessages(m_dialog.m_hWnd);
        EXPECT_EQ(m_dialog.m_clicks, c.clicks);
        EXPECT_EQ(m_dialog.m_button.SendMessage(BM_GETSTATE) & BST_PUSHED, 0);
    }
}

// ---------------------------------------------------------------------------------------------
// Gradient progress bar

class GradientBar : public Skinned {
protected:
    void SetUp() override
    {
        Skinned::SetUp();
        // A background unlike the system's button face, so the two can be told apart.
        Bar().m_colorBack = kMagenta;
    }

    CGradientProgressCtrl& Bar() { return m_dialog.m_progress; }
    int Width() const { return m_dialog.m_progress.GetClientRect().right; }
    // A row above the centred text.
    std::vector<COLORREF> Row() { return RepaintedRow(Bar().m_hWnd, 1); }

    // The first pixel painted in the background colour, or the width when there is none.
    static int BackgroundStart(const std::vector<COLORREF>& row)
    {
        const auto found = std::find(row.begin(), row.end(), kMagenta);
        return static_cast<int>(found - row.begin());
    }
};

TEST_F(GradientBar, EmptyAtBothEndsOfTheRange)
{
    const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
    ASSERT_NE(face, kMagenta);
    for (int position : {0, 100}) {
        SCOPED_TRACE(position);
        Bar().m_showText = TRUE;
        Bar().SetPos(position);
        const std::vector<COLORREF> row = Row();
        ASSERT_FALSE(row.empty());
        EXPECT_EQ(std::count(row.begin(), row.end(), face),
                  static_cast<std::ptrdiff_t>(row.size()));
    }
}

TEST_F(GradientBar, BandsSpanTheWholeWidthAndShowUpToThePosition)
{
    const COLORREF green = RGB(0, 255, 0);
    const COLORREF blue = RGB(0, 0, 255);
    const COLORREF white = RGB(255, 255, 255);
    const COLORREF grey = RGB(240, 240, 240);
    struct {
        const char* name;
        int lower;
        int upper;
        int position;
        COLORREF start;
        COLORREF end;
        double backgroundFrom; // share of the width
    } const cases[] = {
        {"half of green to blue", 0, 100, 50, green, blue, 0.5},
        {"lower end takes no part", 20, 100, 60, green, blue, 0.6},
        {"one step before the end", 0, 100, 99, green, blue, 0.99},
        {"15 bands, the last one crosses 99 %", 0, 100, 99, white, grey, 1.0},
        {"reversed colours", 0, 100, 25, blue, green, 0.25},
        {"equal colours: background only", 0, 100, 50, grey, grey, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bar().m_lower = c.lower;
        Bar().m_upper = c.upper;
        Bar().SendMessage(PBM_SETRANGE32, static_cast<WPARAM>(c.lower), c.upper);
        Bar().m_colorStart = c.start;
        Bar().m_colorEnd = c.end;
        Bar().SetPos(c.position);

        const std::vector<COLORREF> row = Row();
        const int width = static_cast<int>(row.size());
        ASSERT_GT(width, 255) << "too narrow to see single bands";
        const int from = BackgroundStart(row);
        // The shown part ends at the first band edge past the position: a band is 1.5 pixels
        // wide for 255 bands, and float rounding may leave the last pixel to the background.
        EXPECT_NEAR(from, c.backgroundFrom * width, 3.0);
        for (int x = from; x < width; ++x)
            ASSERT_EQ(row[x], kMagenta) << "x " << x;
        // Left of it the colour is that of a gradient spanning the whole width.
        for (int x = 0; x < from; ++x) {
            const double t = static_cast<double>(x) / width;
            auto mix = [t](int a, int b) { return static_cast<int>(a + (b - a) * t); };
            const COLORREF expected = RGB(mix(GetRValue(c.start), GetRValue(c.end)),
                                          mix(GetGValue(c.start), GetGValue(c.end)),
                                          mix(GetBValue(c.start), GetBValue(c.end)));
            ASSERT_TRUE(NearColour(row[x], expected, 3))
                << "x " << x << ": " << std::hex << row[x] << " instead of about " << expected;
        }
    }
}

TEST_F(GradientBar, PercentageIsDrawnOnlyOverAShownBar)
{
    struct {
        int position;
        BOOL showText;
        bool text;
    } const cases[] = {
        {50, TRUE, true},
        {50, FALSE, false},
        {100, TRUE, false},
        {0, TRUE, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "position " << c.position << " text " << c.showText);
        Bar().m_showText = c.showText;
        Bar().SetPos(c.position);
        ::InvalidateRect(Bar().m_hWnd, nullptr, FALSE);
        ::UpdateWindow(Bar().m_hWnd);
        // Black text over the middle, where the bar is green-blue or magenta, never dark.
        const RECT client = Bar().GetClientRect();
        int dark = 0;
        HDC dc = ::GetDC(Bar().m_hWnd);
        for (int y = 0; y < client.bottom; ++y) {
            for (int x = client.right / 2 - 25; x < client.right / 2 + 25; ++x) {
                const COLORREF pixel = ::GetPixel(dc, x, y);
                dark += GetRValue(pixel) < 80 && GetGValue(pixel) < 80 && GetBValue(pixel) < 80;
            }
        }
        ::ReleaseDC(Bar().m_hWnd, dc);
        EXPECT_EQ(dark > 0, c.text) << dark << " dark pixels";
    }
}

TEST_F(GradientBar, SetPosMovesTheControlAndItsPicture)
{
    Bar().SetPos(30);
    ASSERT_GT(Width(), 0);
    const int width = Width();
    EXPECT_NEAR(BackgroundStart(Row()), 0.3 * width, 3.0);

    // The control's own handling of the position repaints it; no help from the test.
    for (int position : {70, 40}) {
        SCOPED_TRACE(position);
        Bar().SetPos(position);
        EXPECT_EQ(Bar().m_position, position);
        EXPECT_EQ(Bar().SendMessage(PBM_GETPOS), position);
        ::UpdateWindow(Bar().m_hWnd);
        std::vector<COLORREF> row;
        HDC dc = ::GetDC(Bar().m_hWnd);
        for (int x = 0; x < width; ++x)
            row.push_back(::GetPixel(dc, x, 1));
        ::ReleaseDC(Bar().m_hWnd, dc);
        const int from = BackgroundStart(row);
        EXPECT_NEAR(from, position / 100.0 * width, 3.0);
        EXPECT_EQ(std::count(row.begin() + from, row.end(), kMagenta),
                  static_cast<std::ptrdiff_t>(width - from));
    }
}

// ---------------------------------------------------------------------------------------------
// Colour label

class ColourLabel : public Skinned {
protected:
    CColorStatic& Label() { return m_dialog.m_label; }
    HWND Dialog() const { return m_dialog.m_hWnd; }

    // Pixels of the label's client area that show the text colour chosen by the tests.
    int RedPixels(int fromX)
    {
        ::UpdateWindow(Dialog());
        const RECT client = Label().GetClientRect();
        HDC dc = ::GetDC(Label().m_hWnd);
        int red = 0;
        for (int y = 0; y < client.bottom; ++y) {
            for (int x = fromX; x < client.right; ++x) {
                const COLORREF pixel = ::GetPixel(dc, x, y);
                red += GetRValue(pixel) > 150 && GetGValue(pixel) < 100 && GetBValue(pixel) < 100;
            }
        }
        ::ReleaseDC(Label().m_hWnd, dc);
        return red;
    }
};

TEST_F(ColourLabel, AnswersTheControlColourRequestItsParentPassesOn)
{
    Label().m_textColor = RGB(200, 0, 0);
    struct {
        const char* name;
        bool transparent;
    } const cases[] = {{"transparent", true}, {"opaque", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Label().m_transparent = c.transparent;
        Label().m_backColor = RGB(0, 120, 200);
        Label().m_backBrush.Reset(::CreateSolidBrush(Label().m_backColor));

        HDC screen = ::GetDC(nullptr);
        HDC dc = ::CreateCompatibleDC(screen);
        ::ReleaseDC(nullptr, screen);
        ::SetBkMode(dc, OPAQUE);
        ::SetBkColor(dc, RGB(1, 1, 1));
        ::SetTextColor(dc, RGB(2, 2, 2));
        const auto brush = reinterpret_cast<HBRUSH>(
            m_dialog.SendMessage(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                 reinterpret_cast<LPARAM>(Label().m_hWnd)));

        EXPECT_EQ(::GetTextColor(dc), Label().m_textColor);
        if (c.transparent) {
            EXPECT_EQ(brush, static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH)));
            EXPECT_EQ(::GetBkMode(dc), TRANSPARENT);
        } else {
            EXPECT_EQ(brush, Label().m_backBrush.Get());
            EXPECT_EQ(::GetBkColor(dc), Label().m_backColor);
        }
        ::DeleteDC(dc);
    }
}

TEST_F(ColourLabel, PaintsInItsOwnColours)
{
    Label().m_textColor = RGB(220, 0, 0);
    Label().m_transparent = false;
    Label().m_backColor = kMagenta;
    Label().m_backBrush.Reset(::CreateSolidBrush(kMagenta));
    Label().SetWindowText(L"Tessarin");
    ::InvalidateRect(Dialog(), nullptr, TRUE);
    const RECT client = Label().GetClientRect();
    EXPECT_EQ(PaintedPixel(Label().m_hWnd, client.right - 2, client.bottom / 2), kMagenta);
    EXPECT_GT(RedPixels(0), 0);

    // Transparent: the dialog's own background shows behind the text.
    Label().m_transparent = true;
    ::InvalidateRect(Dialog(), nullptr, TRUE);
    ::UpdateWindow(Dialog()); // the dialog first, then the label over it
    const COLORREF behind = PaintedPixel(Label().m_hWnd, client.right - 2, client.bottom / 2);
    EXPECT_EQ(behind, PaintedPixel(Dialog(), 2, 2));
    EXPECT_NE(behind, kMagenta);
    EXPECT_GT(RedPixels(0), 0);
}

TEST_F(ColourLabel, NewTextOrFontOfATransparentLabelRepaintsTheParentUnderIt)
{
    const auto font = static_cast<WPARAM>(m_dialog.SendMessage(WM_GETFONT));
    struct {
        const char* name;
        bool transparent;
        UINT message;
    } const cases[] = {
        {"text, transparent", true, WM_SETTEXT},
        {"font, transparent", true, WM_SETFONT},
        {"text, opaque", false, WM_SETTEXT},
        {"font, opaque", false, WM_SETFONT},
    };
    const RECT label = RectInParent(Label().m_hWnd);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Label().m_transparent = c.transparent;
        ::UpdateWindow(Dialog());
        ::ValidateRect(Dialog(), nullptr);
        if (c.message == WM_SETTEXT)
            Label().SendMessage(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"new text"));
        else
            Label().SendMessage(WM_SETFONT, font, FALSE); // the label itself stays unpainted

        RECT update{};
        const bool invalid = ::GetUpdateRect(Dialog(), &update, FALSE) != FALSE;
        EXPECT_EQ(invalid, c.transparent);
        if (c.transparent) {
            RECT both{};
            ::UnionRect(&both, &update, &label);
            EXPECT_TRUE(::EqualRect(&both, &update)) << "the label's area is not all invalid";
        }
    }
}

TEST_F(ColourLabel, ShorterTextLeavesNoTraceOfTheLongerOne)
{
    Label().m_textColor = RGB(220, 0, 0);
    Label().SetWindowText(L"WWWWWWWWWWWWWWWWWWWW");
    const int tail = Label().GetClientRect().right / 3;
    ASSERT_GT(RedPixels(tail), 0) << "the long text does not reach the right part";

    Label().SetWindowText(L"W");
    EXPECT_EQ(RedPixels(tail), 0);
    EXPECT_GT(RedPixels(0), 0);
}

// ---------------------------------------------------------------------------------------------
// Numeric edit

class DigitEdit : public Skinned {
protected:
    CNumEdit& Edit() { return m_dialog.m_edit; }
};

TEST_F(DigitEdit, TypedCharactersOtherThanDigitsAndBackspaceAreDropped)
{
    ASSERT_TRUE(PutTextOnClipboard(m_dialog.m_hWnd, L"99"));
    struct {
        const char* name;
        wchar_t character;
        bool selectAll;
        const wchar_t* after;
    } const cases[] = {
        {"digit", L'7', false, L"127"},
        {"zero", L'0', false, L"120"},
        {"nine", L'9', false, L"129"},
        {"digit over a selection", L'5', true, L"5"},
        {"backspace", L'\b', false, L"1"},
        {"backspace over a selection", L'\b', true, L""},
        {"minus", L'-', false, L"12"},
        {"plus", L'+', false, L"12"},
        {"space", L' ', false, L"12"},
        {"letter", L'a', false, L"12"},
        {"dot", L'.', false, L"12"},
        {"full-width digit", L'\xFF17', false, L"12"},
        {"Ctrl+V does not paste", 0x16, true, L"12"},
        {"Ctrl+X does not cut", 0x18, true, L"12"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Edit().SetWindowText(L"12");
        if (c.selectAll)
            Edit().SendMessage(EM_SETSEL, 0, -1);
        else
            Edit().SendMessage(EM_SETSEL, 2, 2);
        Edit().SendMessage(WM_CHAR, c.character, 1);
        EXPECT_EQ(Edit().GetWindowText(), c.after);
    }
}

TEST_F(DigitEdit, TextThatDoesNotComeFromTypingIsTakenAsItIs)
{
    ASSERT_TRUE(PutTextOnClipboard(m_dialog.m_hWnd, L"8-a 1"));
    Edit().SendMessage(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"-12a"));
    EXPECT_EQ(Edit().GetWindowText(), L"-12a");

    // Paste, as the context menu does it.
    Edit().SendMessage(EM_SETSEL, 0, -1);
    Edit().SendMessage(WM_PASTE);
    EXPECT_EQ(Edit().GetWindowText(), L"8-a 1");
}

} // namespace
