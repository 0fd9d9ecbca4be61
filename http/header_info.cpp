#include "http/header_info.h"

namespace peloria {

void TIdHeaderInfo::Clear() {
  *this = TIdHeaderInfo();
}

}  // namespace peloria
