// Collects what Qt's image readers say through Qt's message handler (libjpeg's and libpng's warnings)
// on the calling thread while a picture is decoded, so that the reason reaches the error message
// instead of the terminal. Other threads' messages and messages outside a collection pass on.
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
    void Add(const std::string& Message);

private:
    std::string FText;
    std::set<std::string> FSeen;
    TDecoderMessages* FOuter;
};
