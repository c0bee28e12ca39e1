// libjpeg reports an error by calling a function that must not return: here it jumps back, by longjmp, to
// the setjmp of the function that started the work, with the message that says why. That function keeps
// nothing with a destructor alive across libjpeg's calls.
#pragma once

// jpeglib.h needs size_t and FILE declared before it.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include <csetjmp>

struct TLibJpegFailure {
    jpeg_error_mgr Manager;
    std::jmp_buf Back;
    char Reason[JMSG_LENGTH_MAX];
};

// Formats the reason and jumps back.
[[noreturn]] inline void FailLibJpeg(j_common_ptr Info) {
    auto* failure = reinterpret_cast<TLibJpegFailure*>(Info->err);
    Info->err->format_message(Info, failure->Reason);
    std::longjmp(failure->Back, 1);
}

// A warning (damaged or missing data that libjpeg would fill in with invented pixels) fails as an error
// does; traces print nothing.
inline void FailOnLibJpegWarning(j_common_ptr Info, int Level) {
    if (Level < 0) Info->err->error_exit(Info);
}

// Failure as the error manager: errors jump back through Exit, warnings fail too.
inline jpeg_error_mgr* LibJpegFailureManager(TLibJpegFailure& Failure,
                                             void (*Exit)(j_common_ptr) = FailLibJpeg) {
    jpeg_error_mgr* manager = jpeg_std_error(&Failure.Manager);
    manager->error_exit = Exit;
    manager->emit_message = FailOnLibJpegWarning;
    return manager;
}

// Runs Work, which calls libjpeg on Info (made with Failure's manager), then destroys Info: false when
// libjpeg failed, Failure.Reason saying why. The failure comes back here by longjmp over Work's frames, so
// Work keeps nothing with a destructor alive across libjpeg's calls.
template <class TWork> bool RunLibJpeg(j_common_ptr Info, TLibJpegFailure& Failure, const TWork& Work) {
    if (setjmp(Failure.Back)) {
        jpeg_destroy(Info);
        return false;
    }
    Work();
    jpeg_destroy(Info);
    return true;
}
