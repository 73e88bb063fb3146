#include "TranscriptionContract.h"
