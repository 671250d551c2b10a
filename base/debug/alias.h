#ifndef BASE_DEBUG_ALIAS_H_
#define BASE_DEBUG_ALIAS_H_

namespace base::debug {

// Does nothing, out of line: passing a local's address keeps the local (and
// what was written to it) in the stack frame, so it appears in crash dumps.
void Alias(const void* var);

}  // namespace base::debug

#endif  // BASE_DEBUG_ALIAS_H_
