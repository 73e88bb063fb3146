#include "TranscriptionClient.h"
