#include "PictureJob.h"

#include "MessageText.h"
#include "OutputFolders.h"
#include "ProgressLine.h"
#include "StandardOutput.h"
#include "StderrCapture.h"

#include <pictura/FileOutput.h>
#include <pictura/ImageLimits.h>
#include <pictura/KvPictura.h>
#include <pictura/SysUtils.h>

#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <sstream>
#include <unistd.h>

namespace {

using TClock = std::chrono::steady_clock;

// Whether some pixel is not fully opaque.
bool HasTransparency(TBitmap& Bitmap) {
    if (Bitmap.GetPixelFormat() != pf32bit || !Bitmap.HasAlpha()) return false;
    for (int y = 0; y < Bitmap.Height(); ++y) {
        const uint8_t* row = Bitmap.GetScanline(y);
        for (int x = 0; x < Bitmap.Width(); ++x)
            if (row[4 * x + 3] != 255) return true;
    }
    return false;
}

class TJob {
public:
    TJob(const TPictureJob& Job, const TCommandLine& Line, bool Named, TProgressLine* Progress)
        : FJob(Job), FLine(Line), FProgress(Progress),
          FPrefix(Named ? "pictura: " + DisplayName(Job.Input) + ": " : "pictura: ") {}

    TJobResult Run();

private:
    void Listen();
    void Load();
    void CheckWritable();
    void Operate();
    void Save();
    template <class TWork> void Step(const std::string& What, const std::string& Timed, TWork&& Work);
    void Say(const std::string& Line) { FMessages += FPrefix + PrintableLine(Line) + "\n"; }

    const TPictureJob& FJob;
    const TCommandLine& FLine;
    TProgressLine* FProgress;
    std::string FPrefix;
    std::string FMessages;
    TKvPictura FPicture;
};

template <class TWork> void TJob::Step(const std::string& What, const std::string& Timed, TWork&& Work) {
    const auto start = TClock::now();
    if (FProgress) FProgress->Start(What);
    Work();
    if (FProgress) FProgress->End();
    if (FLine.Time) {
        std::ostringstream line;
        line << Timed << " " << std::chrono::duration<double, std::milli>(TClock::now() - start).count()
             << " ms";
        Say(line.str());
    }
}

void TJob::Listen() {
    // Without a progress line nobody listens, and the control then counts nothing. The control passes
    // on its picture's reports too: loading and saving show a percent where the codec reports its rows.
    // 100 % waits for the step's end: a save to standard output still writes after the encoding ended.
    if (FProgress)
        FPicture.OnProgress = [this](TObject*, TProgressStage, int Percent, bool, const QRect&,
                                     const QString&) { FProgress->Update(std::min(Percent, 99)); };
}

void TJob::Load() {
    Listen();
    FPicture.SetAutoSize(!FLine.Size);
    Step("loading " + DisplayName(FJob.Input), "loading", [&] {
        TStderrCapture decoderMessages; // decoders that print their complaints on standard error
        try {
            if (FJob.Input == "-")
                FPicture.Picture()->LoadFromDescriptor(STDIN_FILENO, "standard input");
            else
                FPicture.Picture()->LoadFromFile(QString::fromStdString(FJob.Input));
        } catch (const Exception& e) {
            const std::string said = decoderMessages.Finish();
            throw Exception(e.what() + (said.empty() ? std::string() : " (" + said + ")"));
        }
    });
    const int orientation = FPicture.Picture()->Metadata().Orientation();
    if (FLine.AutoOrient && FPicture.Picture()->AutoOrient() && !FLine.Quiet)
        Say("note: the picture was turned upright as its EXIF orientation (" + std::to_string(orientation) +
            ") says, and marked upright");
    if (FLine.Size) FPicture.resize(FLine.Size->first, FLine.Size->second);
}

// The save's own refusals (a picture the format cannot hold, its encoding's memory), made before any
// operation runs, for the pixel format the operations leave.
void TJob::CheckWritable() {
    const TBitmap& bitmap = *FPicture.Picture()->GetBitmap();
    TPixelFormat format = bitmap.GetPixelFormat();
    for (const TOperation& op : FLine.Operations)
        if (op.Spec->ChangesPicture) format = pf24bit;
    const int quality = FLine.Quality ? *FLine.Quality : -1;
    const int compression = FLine.Compression ? *FLine.Compression : -1;
    if (FJob.Output == "-")
        TPicture::CheckDataWritable(QString::fromStdString(FJob.Format), "standard output", bitmap.Width(),
                                    bitmap.Height(), format, quality, compression);
    else
        TPicture::CheckFileWritable(QString::fromStdString(FJob.Output), bitmap.Width(), bitmap.Height(),
                                    format, quality, compression);
}

void TJob::Operate() {
    const bool transparent = HasTransparency(*FPicture.Picture()->GetBitmap());
    for (const TOperation& op : FLine.Operations) {
        Step(op.Name, op.Name, [&] { ApplyOperation(FPicture, op); });
        if (op.Spec->ChangesPicture && FPicture.Picture()->GetBitmap()->GetPixelFormat() != pf24bit)
            throw Exception(op.Name + ": declined converting the picture to 24 bits; nothing was written");
    }
    FPicture.OnProgress = nullptr;
    const bool flattened = FPicture.Picture()->GetBitmap()->GetPixelFormat() == pf24bit ||
                           FJob.Format == "jpg" || FJob.Format == "jpeg";
    if (transparent && flattened && !FLine.Quiet)
        Say("note: the picture's transparency was dropped (" +
            std::string(FJob.Format == "jpg" || FJob.Format == "jpeg" ? "JPEG holds none"
                                                                      : "24-bit pixels hold none") +
            ")");
}

void TJob::Save() {
    const std::string name = FJob.Output == "-" ? "standard output" : FJob.Output;
    const int quality = FLine.Quality ? *FLine.Quality : -1;
    const int compression = FLine.Compression ? *FLine.Compression : -1;
    if (!FLine.Quiet)
        for (const QString& note : FPicture.Picture()->SaveNotes(QString::fromStdString(FJob.Format)))
            Say("note: " + note.toStdString());
    Listen();
    Step("saving " + (FJob.Output == "-" ? name : DisplayName(FJob.Output)), "saving", [&] {
        if (FJob.Output != "-")
            return FPicture.Picture()->SaveToFile(QString::fromStdString(FJob.Output), quality, compression);
        const QByteArray data = FPicture.Picture()->SaveToData(QString::fromStdString(FJob.Format),
                                                               "standard output", quality, compression);
        std::string error;
        if (!WriteStandardOutput(std::string_view(data.constData(), size_t(data.size())), error))
            throw Exception(error);
    });
}

TJobResult TJob::Run() {
    const auto start = TClock::now();
    try {
        const QStringList writable = TPicture::WritableExtensions();
        if (!writable.contains(QString::fromStdString(FJob.Format)))
            throw Exception("cannot write " +
                            Quoted(FJob.Output == "-" ? "standard output" : FJob.Output, 256) +
                            ": unknown picture format " + Quoted(FJob.Format) + " (use one of " +
                            writable.join(", ").toStdString() + ")");
        // A device, pipe or folder behind the output name is refused before any work is done.
        if (FJob.Output != "-") {
            if (FJob.MakesFolder) MakeFolderOf(FJob.Output);
            CheckOutputFile(QString::fromStdString(FJob.Output));
        }
        Load();
        CheckWritable();
        Operate();
        Save();
    } catch (const std::bad_alloc&) {
        if (FProgress) FProgress->Clear();
        const TBitmap& bitmap = *FPicture.Picture()->GetBitmap();
        Say("out of memory working on the picture (" + std::to_string(bitmap.Width()) + " x " +
            std::to_string(bitmap.Height()) + " pixels, " + std::to_string(bitmap.Dib().Bits.size()) +
            " bytes)");
        return {false, FMessages};
    } catch (const std::exception& e) {
        if (FProgress) FProgress->Clear();
        Say(e.what());
        return {false, FMessages};
    }
    if (FLine.Time) {
        std::ostringstream line;
        line << "total " << std::chrono::duration<double, std::milli>(TClock::now() - start).count() << " ms";
        Say(line.str());
    }
    return {true, FMessages};
}

} // namespace

TJobResult RunPictureJob(const TPictureJob& Job, const TCommandLine& Line, bool Named,
                         TProgressLine* Progress) {
    TJob job(Job, Line, Named, Progress);
    return job.Run();
}
