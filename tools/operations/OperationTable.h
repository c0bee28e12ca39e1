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

// One row of the table, written with designated initializers and known by its Name.
struct TOperationSpec {
    const char* Name;  // the option without its dashes; a per-channel name holds "{channel}"
    const char* Title; // "Blur", as the viewer's menus and dialogs title it
    TValueShape Shape = TValueShape::None;
    std::vector<TParameterSpec> Parameters = {}; // Numbers: one each; Points: the level, then the percent
    const char* Example = "";                    // a valid value, for messages: "50,2"
    const char* Help = "";                       // the --help line; "{channel}" as in Name
    bool PerChannel = false;                     // one option for each of red, green and blue
    bool ChangesPicture = true;                  // false for the table settings, which touch no pixel
    bool RisingLevels = false;                   // Points: each level above the one before (curves)
    bool AppliesTables = false; // applies the gain tables: its channel's, or all three without one
    // Calls the control for an operation of this row with its values.
    void (*Apply)(TKvPictura& Picture, const TOperation& Op) = nullptr;
    TMenuEntry Menu = {};

    // The option name for Channel, without dashes: "red-envelop".
    std::string OptionName(std::optional<TChannel> Channel) const;
    // How the value is written in --help and messages: "AMOUNT,RADIUS", "I=P[,I=P...]".
    std::string ValueSyntax() const;
};

// One operation as given: which row, for which channel, with which values.
struct TOperation {
    const TOperationSpec* Spec = nullptr; // its row of the table
    std::string Name = {};                // the option as written, for messages and timings
    std::optional<TChannel> Channel = {}; // per-channel operations (a curve for all: none)
    // The values in the row's order: Numbers one per parameter ("--blur 50,2": 50, 2); Points and files
    // a level and its percent for each point (0=7,255=29.5: 0, 7, 255, 29.5).
    std::vector<double> Values = {};

    // Values as (level, percent) points, for Points and files.
    std::vector<std::pair<int, double>> Points() const;
};

// Every operation, in the order --help lists them.
const std::vector<TOperationSpec>& OperationTable();

// The row named Name, as written in the table ("{channel}-envelop", "blur"); throws std::logic_error
// for a name no row has.
const TOperationSpec& OperationSpec(std::string_view Name);

// The row whose option is Name (without dashes), and its channel for a per-channel option; nothing when
// no operation has that name.
std::optional<std::pair<const TOperationSpec*, std::optional<TChannel>>> FindOperation(std::string_view Name);

// Calls the control's method for Op through its row (envelope settings change only the tables).
void ApplyOperation(TKvPictura& Picture, const TOperation& Op);
