#include "ReferencePages.h"

#include "CommandLine.h"
#include "ToolOptions.h"

#include <sstream>
#include <vector>

namespace {

// One option of either table as the pages show it.
struct TEntry {
    std::vector<std::string> Names; // "-o", "--output"; a per-channel operation has three
    std::string Value;              // "FILE", "AMOUNT,RADIUS", or ""
    std::string Help;
    std::string Completion; // "file", "folder", a word list, or "" (a value to type)
    bool Repeats = false;   // operations may be given again
};

std::string WithChannel(std::string Text, const char* Channel) {
    if (const size_t mark = Text.find("{channel}"); mark != std::string::npos) Text.replace(mark, 9, Channel);
    return Text;
}

std::vector<TEntry> Entries(bool Operations) {
    std::vector<TEntry> entries;
    if (Operations) {
        for (const TOperationSpec& spec : OperationTable()) {
            TEntry entry{
                {}, spec.ValueSyntax(), "", spec.Shape == TValueShape::ChannelFile ? "file" : "", true};
            if (spec.PerChannel) {
                for (TChannel channel : AllChannels)
                    entry.Names.push_back("--" + spec.OptionName(channel));
                entry.Help = WithChannel(spec.Help, "red, green or blue") + ValueRanges(spec);
            } else {
                entry.Names.push_back("--" + spec.OptionName(std::nullopt));
                entry.Help = spec.Help + ValueRanges(spec);
            }
            entries.push_back(entry);
        }
        return entries;
    }
    for (const TToolOption& option : ToolOptions()) {
        TEntry entry{{}, option.Value, option.Help, option.Completion};
        for (const char* name : {option.Short, option.Long})
            if (*name && std::string(name) != "--") entry.Names.emplace_back(name);
        for (char& c : entry.Help)
            if (c == '\n') c = ' ';
        if (!entry.Names.empty()) entries.push_back(entry);
    }
    return entries;
}

// Text for roff: backslashes doubled, dashes as minus signs, no control word at a line's start.
std::string Roff(const std::string& Text) {
    std::string out;
    bool lineStart = true;
    for (char c : Text) {
        if (lineStart && (c == '.' || c == '\'')) out += "\\&";
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
        lineStart = c == '\n';
    }
    return out;
}

std::string ManEntries(const std::vector<TEntry>& Entries) {
    std::string text;
    for (const TEntry& entry : Entries) {
        text += ".TP\n";
        for (size_t i = 0; i < entry.Names.size(); ++i)
            text += std::string(i ? ", " : "") + "\\fB" + Roff(entry.Names[i]) + "\\fR";
        if (!entry.Value.empty()) text += " \\fI" + Roff(entry.Value) + "\\fR";
        text += "\n" + Roff(entry.Help) + "\n";
    }
    return text;
}

// Text inside single quotes of a shell word.
std::string ShellQuoted(const std::string& Text) {
    std::string out = "'";
    for (char c : Text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

} // namespace

std::string ManPage(const std::string& Version) {
    std::string synopsis;
    std::istringstream lines(UsageSynopsis());
    for (std::string line; std::getline(lines, line);)
        synopsis += Roff(line) + "\n";
    return ".TH PICTURA 1 \"\" \"pictura " + Version +
           "\" \"User Commands\"\n"
           ".SH NAME\npictura \\- apply exact pixel operations to picture files\n"
           ".SH SYNOPSIS\n.nf\n" +
           synopsis +
           ".fi\n"
           ".SH DESCRIPTION\n" +
           Roff(UsageDescription()) +
           ".PP\nOperations run in the order given. Options that take a value also take it as "
           "\\fB\\-\\-name\\fR=\\fIvalue\\fR.\n"
           ".SH OPERATIONS\n" +
           ManEntries(Entries(true)) + ".SH OPTIONS\n" + ManEntries(Entries(false)) +
           ".SH EXIT STATUS\n0 when every picture was written; 1 when any failed; 2 for a command line that "
           "cannot run.\n"
           ".SH EXAMPLES\n.nf\n" +
           Roff("pictura photo.png -o grey.png --greyscale --brightness 20\n"
                "pictura photos/*.png --out-dir small --suffix -grey --greyscale -j 4\n"
                "pictura -r photos --out-dir out --blur 50,2\n"
                "find photos -name '*.jpg' -print0 | pictura --files-from - -0 -o 'out/{stem}.png' "
                "--invert\n") +
           ".fi\n";
}

std::string BashCompletion() {
    std::string words, files, folders, typed, lists;
    const auto add = [](std::string& Group, const std::string& Name) {
        Group += (Group.empty() ? "" : "|") + Name;
    };
    for (bool operations : {false, true})
        for (const TEntry& entry : Entries(operations))
            for (const std::string& name : entry.Names) {
                words += (words.empty() ? "" : " ") + name;
                if (entry.Value.empty()) continue;
                if (entry.Completion == "file")
                    add(files, name);
                else if (entry.Completion == "folder")
                    add(folders, name);
                else if (entry.Completion.empty())
                    add(typed, name);
                else
                    lists += "    " + name + ") COMPREPLY=($(compgen -W " + ShellQuoted(entry.Completion) +
                             " -- \"$cur\")); return ;;\n";
            }
    const auto branch = [](const std::string& Names, const std::string& Reply) {
        return Names.empty() ? std::string() : "    " + Names + ") COMPREPLY=(" + Reply + "); return ;;\n";
    };
    return "# bash completion for pictura, written from its tables of options and operations\n"
           "_pictura() {\n"
           "  local cur=\"${COMP_WORDS[COMP_CWORD]}\" prev=\"${COMP_WORDS[COMP_CWORD-1]}\"\n"
           "  case \"$prev\" in\n" +
           lists + branch(files, "$(compgen -f -- \"$cur\")") + branch(folders, "$(compgen -d -- \"$cur\")") +
           branch(typed, "") +
           "  esac\n"
           "  if [[ \"$cur\" == -* ]]; then\n"
           "    COMPREPLY=($(compgen -W " +
           ShellQuoted(words) +
           " -- \"$cur\"))\n"
           "  else\n"
           "    COMPREPLY=($(compgen -f -- \"$cur\"))\n"
           "  fi\n"
           "}\n"
           "complete -o filenames -F _pictura pictura\n";
}

std::string ZshCompletion() {
    // _arguments specs: '*--name[help]:value:action'; brackets and colons in the help escaped.
    const auto escaped = [](const std::string& Text) {
        std::string out;
        for (char c : Text) {
            if (c == '[' || c == ']' || c == ':' || c == '\\') out += '\\';
            out += c;
        }
        return out;
    };
    std::string specs;
    for (bool operations : {false, true})
        for (const TEntry& entry : Entries(operations))
            for (const std::string& name : entry.Names) {
                std::string spec =
                    std::string(entry.Repeats ? "*" : "") + name + "[" + escaped(entry.Help) + "]";
                if (!entry.Value.empty()) {
                    const std::string action = entry.Completion == "file"     ? "_files"
                                               : entry.Completion == "folder" ? "_files -/"
                                               : entry.Completion.empty()     ? " "
                                                                              : "(" + entry.Completion + ")";
                    spec += ":" + escaped(entry.Value) + ":" + action;
                }
                specs += "  " + ShellQuoted(spec) + " \\\n";
            }
    return "#compdef pictura\n"
           "# zsh completion for pictura, written from its tables of options and operations\n"
           "_arguments -S \\\n" +
           specs + "  '*:input picture:_files'\n";
}
