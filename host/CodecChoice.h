// Whether PNG and JPEG go through the framework's own codecs (the default) or through Qt's, as before
// them: tests compare the two on the same files.
#pragma once

bool OwnPictureCodecs();
void SetOwnPictureCodecs(bool Enabled);
