// TKvPictura: an image control whose operations edit its picture's 24-bit bitmap in place.
//
// Every whole-image operation runs in one frame: make sure the bitmap is 24-bit (asking the user
// before converting it; a declined conversion ends the call with nothing changed), work on the
// processed area (the control's Width x Height, clipped to the bitmap) scan line by scan line, then
// repaint at once. Each operation, and the conversion to 24 bits, reports through the inherited
// OnProgress: psStarting at 0 %, psRunning at each new whole percent, psEnding at 100 %, Sender this
// control (on the thread running the operation). Results are exact: real arithmetic in extended
// precision, ties rounded to even.
//
//     TKvPictura* picture = new TKvPictura(form);
//     picture->SetAutoSize(true);
//     picture->Picture()->LoadFromFile("photo.bmp");
//     picture->Blur(50, 2);
#pragma once

#include <pictura/FitinRange.h>
#include <pictura/Image.h>
#include <pictura/PicturaPckExport.h>
#include <pictura/SysUtils.h> // the errors the methods raise, for callers to catch

#include <array>
#include <cstdint>

// One pixel of a 24-bit scan line, in its byte order.
struct TRGBColor {
    uint8_t Blue;
    uint8_t Green;
    uint8_t Red;

    // Spelled out (not defaulted) so that the header compiles as C++17.
    friend bool operator==(const TRGBColor& A, const TRGBColor& B) {
        return A.Blue == B.Blue && A.Green == B.Green && A.Red == B.Red;
    }
    friend bool operator!=(const TRGBColor& A, const TRGBColor& B) { return !(A == B); }
};
static_assert(sizeof(TRGBColor) == 3, "TRGBColor must match a 24-bit pixel exactly");

// The properties and events TKvPictura offers to form designers, in their published order: written once,
// for the class info that designers read and for TKvPictura::PublishedProperties.
#define KVPICTURA_PUBLISHED_PROPERTIES                                                                       \
    "Align,AutoSize,Center,DragCursor,DragMode,Enabled,IncrementalDisplay,ParentShowHint,Picture,"           \
    "PopupMenu,ShowHint,Stretch,Transparent,Visible,OnClick,OnDblClick,OnDragDrop,OnDragOver,"               \
    "OnEndDrag,OnMouseDown,OnMouseMove,OnMouseUp,OnProgress,OnStartDrag"

class PICTURAPCK_EXPORT TKvPictura : public TImage {
    Q_OBJECT
    Q_CLASSINFO("PublishedProperties", KVPICTURA_PUBLISHED_PROPERTIES)
public:
    // The 24 names of KVPICTURA_PUBLISHED_PROPERTIES, one by one.
    static const std::array<const char*, 24> PublishedProperties;

    // Builds the image control owned by AOwner; all envelope gains start at 1.0 (100 %).
    explicit TKvPictura(TComponent* AOwner = nullptr);

    // The pixel at column X of row Y of the 24-bit bitmap; ERangeError outside the bitmap.
    TRGBColor GetRGBPixel(int32_t X, int32_t Y);
    // Writes one pixel; shows at the next paint. ERangeError outside the bitmap.
    void SetRGBPixel(int32_t X, int32_t Y, TRGBColor Color);
    // Converts the bitmap to 24 bits after the user confirms; false when the user declines.
    bool Set24BitColor();

    // Moves every channel towards (Blur) or away from (Sharpen) its mean over a square window of
    // half-size Radius sliding down each column, in place; Amount is the step in percent.
    // A negative Radius raises EArgumentError before anything is asked or changed.
    void Blur(int8_t Amount, int32_t Radius);
    void Sharpen(int8_t Amount, int32_t Radius);

    // Replaces every channel c by 255 - c.
    void Invert();
    // Moves channels towards white (Value > 0) or black (Value < 0) by Value percent (clamped to
    // -100..100): Brightness(50) turns 0 into 128 and 2 into 128.
    void Brightness(int32_t Value);
    // Sets each pixel to its luma 0.2125 R + 0.7154 G + 0.0721 B.
    void GreyScale();

    // Envelope gains in percent: Value is clamped to 0..100; a NaN raises EInvalidOperation and keeps
    // the entry. The getters read the stored gain back in percent.
    void SetRedEnvelop(uint8_t Index, double Value);
    void SetGreenEnvelop(uint8_t Index, double Value);
    void SetBlueEnvelop(uint8_t Index, double Value);
    double GetRedEnvelop(uint8_t Index) const;
    double GetGreenEnvelop(uint8_t Index) const;
    double GetBlueEnvelop(uint8_t Index) const;
    // Each channel value v becomes Round(v x gain[v]) through its channel's table.
    void ApplyRedEnvelop();
    void ApplyGreenEnvelop();
    void ApplyBlueEnvelop();
    // One pass applying the red, green and blue envelopes together.
    void ApplyEnvelops();
    // Copies Source's three envelope tables exactly (the percent interface may not round-trip a gain).
    void AssignEnvelops(const TKvPictura& Source);

private:
    // Ensures 24 bits, runs Work(bitmap, width, height, report) over the clipped area when it is not
    // empty, then repaints. OnProgress hears What start at 0 %, run (report, empty without a listener,
    // takes whole percents) and end at 100 %, also when the area is empty.
    template <class TWork> void OperationFrame(const char* What, TWork&& Work);
    // Runs RowWork(scanLine, width) on each row of the processed area, counting rows for OnProgress.
    template <class TRowWork> void ForEachRow(const char* What, TRowWork&& RowWork);
    void ReportProgress(TProgressStage Stage, int Percent, const char* What);
    // The address of pixel X of row Y, range-checked against the bitmap.
    uint8_t* PixelAddress(int32_t X, int32_t Y);
    void Filter(int8_t Amount, int32_t Radius, bool Sharpen);
    void ApplyChannelEnvelop(int Channel, const double (&Envelop)[256], const char* What);

    uint8_t* FScanLine = nullptr;
    double FRedEnvelop[256];
    double FGreenEnvelop[256];
    double FBlueEnvelop[256];
};
