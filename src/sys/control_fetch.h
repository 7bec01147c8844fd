// The control file, fetched into memory.
#pragma once
#include <string>
#include <vector>

#include "win/thread.h"

namespace sys {

// Fetches the control file into memory, where nobody else can rewrite it between the reads:
// `url` must be an http or https URL. Never uses or fills the cache, follows a few redirects
// to web URLs only (never from https to anything else), and takes a whole body of at most
// kControlFileLimit bytes that arrives before the deadline. True with the whole body in
// `body`, else false with `body` empty.
bool FetchControlFile(const std::wstring& url, const win::Deadline& deadline,
                      std::vector<char>* body);

}  // namespace sys
