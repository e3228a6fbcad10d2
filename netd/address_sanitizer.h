// TESSEL_ADDRESS_SANITIZER is defined in the address-sanitizer builds (GCC
// and clang spell the test differently): the helper's filter and its start
// differ there, in test builds only.
#pragma once

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSEL_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TESSEL_ADDRESS_SANITIZER 1
#endif
