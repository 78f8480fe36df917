#pragma once

class QTemporaryDir;

// Points HOME and the XDG folders into `home`, so nothing a test or a
// benchmark does reaches the real home. False when `home` is unusable.
bool useTemporaryHome(const QTemporaryDir& home);
