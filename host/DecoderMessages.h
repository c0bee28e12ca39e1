// Collects what Qt's image readers say through Qt's message handler (libjpeg's and libpng's warnings),
// and what libtiff says through its own handlers, on the calling thread while a picture is decoded, so
// that the reason reaches the error message instead of the terminal. Other threads' messages and
// messages outside a collection pass on.
#pragma once

#include <set>
#include <string>

class TDecoderMessages {
public:
    // Starts collecting on this thread.
    TDecoderMessages();
    // Stops collecting (collections nest: the outer one resumes).
    ~TDecoderMessages();
    TDecoderMessages(const TDecoderMessages&) = delete;
    TDecoderMessages& operator=(const TDecoderMessages&) = delete;

    // What was said so far, as one line ("; " between messages), cut to a few hundred characters.
    const std::string& Text() const { return FText; }
    // Whether a message said that pixels were invented or left out.
    bool Damaged() const { return FDamaged; }
    void Add(const std::string& Message, bool Damage = false);
    // Passes Line on as a warning of Qt's, past this collection, once the picture is read.
    void PassOn(const std::string& Line);

    // The calling thread's innermost collection, or none.
    static TDecoderMessages* Current();

private:
    std::string FText;
    std::set<std::string> FSeen;
    bool FDamaged = false;
    TDecoderMessages* FOuter;
};
