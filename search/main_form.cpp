#include "search/main_form.h"

namespace dupfind {

MainForm* Form1 = nullptr;

}  // namespace dupfind
