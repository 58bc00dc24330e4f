// MD5, signing and nonce (placeholder).
#include "md5.h"
