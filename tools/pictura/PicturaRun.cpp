#include "PicturaRun.h"

#include "MessageText.h"
#include "NumberText.h"
#include "OutputPlan.h"
#include "PictureJob.h"
#include "ProgressLine.h"
#include "StandardOutput.h"
#include "WorkerProcesses.h"

#include <pictura/Dialogs.h>
#include <pictura/KvPictura.h>
#include <pictura/SysUtils.h>

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <memory>
#include <sstream>
#include <unistd.h>

namespace {

using TClock = std::chrono::steady_clock;

// The application the control needs (it is a widget); this tool never shows a window.
std::unique_ptr<QApplication> MakeApplication(int& argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's own notes about the offscreen session are not the user's business; real failures are.
    qInstallMessageHandler([](QtMsgType Type, const QMessageLogContext&, const QString& Message) {
        if (Type == QtCriticalMsg || Type == QtFatalMsg)
            std::cerr << "pictura: " << PrintableLine(Message.toStdString()) << "\n";
    });
    return std::make_unique<QApplication>(argc, argv);
}

// Answers the "Convert" box as the command line says; without an answer, asks on a terminal when one
// picture is processed, and refuses otherwise.
void AnswerConvertBoxes(TConvertAnswer Answer, bool Batch, TProgressLine* Progress) {
    SetMessageBoxAnswerer([=](HWND, const std::string& Text, const std::string& Caption, unsigned) {
        if (Answer == TConvertAnswer::Yes) return IDOK;
        if (Answer == TConvertAnswer::No) return IDCANCEL;
        if (Batch || !isatty(STDIN_FILENO))
            throw Exception(
                "the picture is not 24-bit and must be converted first: pass --yes to convert it or "
                "--no to decline (" +
                std::string(Batch ? "a batch never asks" : "no terminal to ask on") + ")");
        if (Progress) Progress->Clear();
        std::cerr << Caption << ": " << Text << "\nOK or Cancel? [o/c] " << std::flush;
        std::string reply;
        if (!std::getline(std::cin, reply)) return IDCANCEL;
        return (reply == "o" || reply == "O" || reply == "ok" || reply == "OK" || reply == "y" ||
                reply == "yes")
                   ? IDOK
                   : IDCANCEL;
    });
}

// The three gain tables after the command line's table settings, one line per level.
std::string EnvelopeText(const TCommandLine& Line) {
    TKvPictura picture;
    for (const TOperation& op : Line.Operations)
        if (!op.Spec->ChangesPicture) ApplyOperation(picture, op);
    std::string text;
    for (int i = 0; i < 256; ++i)
        text += NumberString(GetEnvelop(picture, TChannel::Red, uint8_t(i))) + " " +
                NumberString(GetEnvelop(picture, TChannel::Green, uint8_t(i))) + " " +
                NumberString(GetEnvelop(picture, TChannel::Blue, uint8_t(i))) + "\n";
    return text;
}

// The options whose gain tables no later operation applies, in the order given: they change no pixel.
std::vector<std::string> UnappliedTables(const std::vector<TOperation>& Operations) {
    std::vector<std::string> unapplied;
    for (size_t i = 0; i < Operations.size(); ++i) {
        const TOperation& set = Operations[i];
        if (set.Spec->ChangesPicture) continue;
        bool applied = true;
        for (TChannel channel : AllChannels) {
            if (set.Channel && *set.Channel != channel) continue;
            applied =
                applied &&
                std::any_of(Operations.begin() + long(i) + 1, Operations.end(), [&](const TOperation& op) {
                    return op.Spec->AppliesTables && (!op.Channel || *op.Channel == channel);
                });
        }
        if (!applied && std::find(unapplied.begin(), unapplied.end(), set.Name) == unapplied.end())
            unapplied.push_back(set.Name);
    }
    return unapplied;
}

int Cores() {
    const long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
    return cores > 0 ? int(cores) : 1;
}

std::string Milliseconds(TClock::duration Elapsed) {
    std::ostringstream text;
    text << std::chrono::duration<double, std::milli>(Elapsed).count() << " ms";
    return text.str();
}

} // namespace

int RunCommandLine(const TCommandLine& Line, int& argc, char** argv) {
    const std::vector<TPictureJob> jobs =
        Line.Inputs.empty() ? std::vector<TPictureJob>() : PlanPictures(Line);
    const bool batch = jobs.size() > 1;
    // Tables set for --print-envelops alone are used; on a picture, unapplied ones are most likely a
    // forgotten --apply-envelops.
    if (const std::vector<std::string> unapplied = UnappliedTables(Line.Operations);
        !unapplied.empty() && !jobs.empty() && !Line.Quiet) {
        std::string names;
        for (const std::string& name : unapplied)
            names += (names.empty() ? "" : ", ") + name;
        std::cerr << "pictura: note: " << PrintableLine(names) << (unapplied.size() > 1 ? " set" : " sets")
                  << " gain tables that no later --apply-envelops or --apply-CHANNEL-envelop applies; they "
                     "change no pixel\n";
    }
    const auto start = TClock::now();
    TProgressLine progress(TProgressLine::ModeFor(STDERR_FILENO, Line.Progress, Line.Quiet));
    size_t done = 0, written = 0;
    const auto showCount = [&] {
        if (batch)
            progress.Show(std::to_string(done) + " of " + std::to_string(jobs.size()) + " pictures", start);
    };
    const auto report = [&](size_t Job, const TJobResult& Result) {
        progress.Clear();
        std::cerr << (Result.Written || !Result.Messages.empty()
                          ? Result.Messages
                          : "pictura: " + DisplayName(jobs[Job].Input) +
                                ": processing stopped before the picture was written\n")
                  << std::flush;
        ++done;
        written += Result.Written;
        showCount();
    };

    std::unique_ptr<QApplication> application;
    const int workers = int(std::min<size_t>(size_t(Line.Jobs > 0 ? Line.Jobs : Cores()), jobs.size()));
    const auto worker = [&](const TNextJob& Next, const TSendResult& Send) {
        const std::unique_ptr<QApplication> own = MakeApplication(argc, argv);
        AnswerConvertBoxes(Line.Convert, true, nullptr);
        while (const std::optional<size_t> job = Next())
            Send(*job, RunPictureJob(jobs[*job], Line, true, nullptr));
    };
    // Fork before this process has an application or threads; each worker makes its own.
    const bool forked = workers > 1 && RunInWorkerProcesses(jobs.size(), workers, worker, report, showCount);
    if (!forked) {
        application = MakeApplication(argc, argv);
        AnswerConvertBoxes(Line.Convert, batch, &progress);
        showCount();
        for (size_t job = 0; job < jobs.size(); ++job)
            report(job, RunPictureJob(jobs[job], Line, batch, batch ? nullptr : &progress));
    }
    progress.Clear();
    if (batch && !Line.Quiet) {
        if (written == jobs.size())
            std::cerr << "pictura: " << written << " pictures written\n";
        else
            std::cerr << "pictura: " << written << " of " << jobs.size() << " pictures written, "
                      << jobs.size() - written << " failed\n";
    }
    if (batch && Line.Time) std::cerr << "pictura: total " << Milliseconds(TClock::now() - start) << "\n";
    if (written != jobs.size()) return 1;

    if (Line.PrintEnvelops) {
        if (!application && !QApplication::instance()) application = MakeApplication(argc, argv);
        std::string error;
        if (!WriteStandardOutput(EnvelopeText(Line), error)) {
            std::cerr << "pictura: " << error << "\n";
            return 1;
        }
    }
    return 0;
}
