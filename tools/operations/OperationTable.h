// The one description of every operation the tools offer: its option name, its value and their ranges,
// its help line, how the viewer shows it, and which method of the control runs it. The tool's parser and
// --help, the viewer's menus and dialogs, and the fuzz target all read this table.
#pragma once

#include "Channel.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class TKvPictura;

enum class TOperationKind {
    Invert,
    Brightness,
    GreyScale,
    Blur,
    Sharpen,
    SetEnvelop,   // Channel, Entries: single levels
    SetCurve,     // Channel (none: all three), Entries: points joined by straight lines
    ApplyEnvelop, // Channel
    ApplyEnvelops,
};

// How an operation's value is written after its option.
enum class TValueShape {
    None,        // --invert
    Numbers,     // --blur 50,2: one number per parameter, separated by commas
    Points,      // --red-envelop 0=7,255=29.5: LEVEL=PERCENT pairs separated by commas
    ChannelFile, // --envelop-file red=gains.txt
};

// One number of an operation's value.
struct TParameterSpec {
    const char* Name;  // "AMOUNT", as --help and messages name it
    const char* Label; // "&Amount:", as the viewer's dialogs label it
    double Min;        // accepted values, inclusive; --help states them
    double Max;
    bool Whole;       // whole numbers only
    int Default;      // the value the viewer offers first
    const char* Unit; // " %", " px" or ""
    int SliderMax;    // where the viewer's slider stops; its spin box goes on to Max
};

// Where the viewer offers an operation: its action in the Image menu and the toolbar. Rows without an
// action (the table settings, single channels) are the tool's alone.
struct TMenuEntry {
    const char* Action = nullptr; // the action's object name, "BlurAction"
    const char* Text = "";        // "B&lur...": a dialog follows when the text ends in dots
    const char* Shortcut = "";    // "Ctrl+I", or none
    const char* Tip = "";         // the status bar's line
    int Group = 0;                // the menu puts a separator between groups
};

struct TOperation;

struct TOperationSpec {
    TOperationKind Kind;
    const char* Name;  // the option without its dashes; a per-channel name holds "{channel}"
    const char* Title; // "Blur", as the viewer's menus and dialogs title it
    TValueShape Shape;
    std::vector<TParameterSpec> Parameters; // Numbers: one each; Points: the level, then the percent
    const char* Example;                    // a valid value, for messages: "50,2"
    const char* Help;                       // the --help line; "{channel}" as in Name
    bool PerChannel;                        // one option for each of red, green and blue
    bool ChangesPicture;                    // false for the table settings, which touch no pixel
    void (*Apply)(TKvPictura& Picture, const TOperation& Op);
    TMenuEntry Menu;

    // The option name for Channel, without dashes: "red-envelop".
    std::string OptionName(std::optional<TChannel> Channel) const;
    // How the value is written in --help and messages: "AMOUNT,RADIUS", "I=P[,I=P...]".
    std::string ValueSyntax() const;
};

// One operation as given: which, for which channel, with which values.
struct TOperation {
    TOperation() = default;
    TOperation(TOperationKind AKind, std::string AName) : Kind(AKind), Name(std::move(AName)) {}

    TOperationKind Kind = TOperationKind::Invert;
    std::string Name;                            // the option as written, for messages and timings
    const TOperationSpec* Spec = nullptr;        // its row of the table
    std::optional<TChannel> Channel;             // per-channel operations (a curve for all: none)
    int Value = 0;                               // brightness value, filter amount
    int Radius = 0;                              // filter radius
    std::vector<std::pair<int, double>> Entries; // envelope levels or curve points, with their percents
};

// Every operation, in the order --help lists them.
const std::vector<TOperationSpec>& OperationTable();

// The table row for Kind.
const TOperationSpec& OperationSpec(TOperationKind Kind);

// The row whose option is Name (without dashes), and its channel for a per-channel option; nothing when
// no operation has that name.
std::optional<std::pair<const TOperationSpec*, std::optional<TChannel>>> FindOperation(std::string_view Name);

// Calls the control's method for Op (envelope settings change only the tables).
void ApplyOperation(TKvPictura& Picture, const TOperation& Op);
