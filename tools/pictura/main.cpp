// pictura: applies the image control's operations to picture files from the command line.
#include "CommandLine.h"
#include "InputList.h"
#include "MessageText.h"
#include "PicturaRun.h"
#include "StandardOutput.h"

#include <iostream>

int main(int argc, char** argv) {
    GuardStandardDescriptors();
    const std::vector<std::string> args(argv + 1, argv + argc);
    int status = 0;
    try {
        TCommandLine line = ParseCommandLine(args);
        // A line that only prints the tables has no inputs to gather.
        if (!line.Help && !line.Version && (!line.Inputs.empty() || !line.FilesFrom.empty()))
            GatherInputs(line);
        if (line.Help || line.Version) {
            std::string error;
            if (!WriteStandardOutput(
                    line.Help ? UsageText() : std::string("pictura ") + PICTURA_VERSION + "\n", error)) {
                std::cerr << "pictura: " << error << "\n";
                status = 1;
            }
        } else {
            status = RunCommandLine(line, argc, argv);
        }
    } catch (const TUsageError& e) {
        std::cerr << "pictura: " << PrintableLine(e.what()) << "\n";
        return 2;
    }
    const std::string error = FinishStandardOutput();
    if (!error.empty()) {
        std::cerr << "pictura: " << error << "\n";
        return status != 0 ? status : 1;
    }
    return status;
}
