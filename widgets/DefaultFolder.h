#pragma once

#include <QString>

// The folder file dialogs start in: the user's documents folder, or the home folder where there
// is no documents folder. A dialog given a folder that does not exist would offer its last
// part ("Documents") as the file name.
QString DocumentsFolderOrHome();
