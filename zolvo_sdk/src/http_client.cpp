// HTTP transport (placeholder).
#include "http_client.h"
