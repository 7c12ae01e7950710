// `parcelo --extract-here ARCHIVE...`, what the file managers' "Extract Here" runs: each archive is
// extracted beside itself into a new folder named after it (the name the wizard proposes;
// "name (2)", "name (3)" ... when that is taken), without the wizard's pages. The same rules as
// the wizard's: the archive is checked first; what could not be extracted is said in a message
// box; a run that extracted nothing leaves no folder behind; files are never replaced (the folder
// is new). A notification says when each run ended, and a small progress window shows itself
// for a run that takes longer than a moment.
#pragma once

#include <string>
#include <vector>

#include "app/WizardServices.h"

namespace wizard {

// The exit status: 0 every file of every archive extracted, 1 some were not, 2 an archive gave
// nothing (or could not be read).
int ExtractHere(const std::vector<std::string>& archives, TWizardServices& services);

// The new folder's path for an archive (window syntax): beside it, named after it, not taken yet.
std::string FolderBesideArchive(const std::string& archive);

}  // namespace wizard
