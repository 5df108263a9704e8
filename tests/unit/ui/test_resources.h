// Resource ids of the ui tests' own pictures.
#pragma once

#define PNG_TWO_PIXELS 300
#define PNG_GREEN_3X2 301
#define PNG_NOT_A_PNG 302
#define PNG_TRUNCATED 303
#define PNG_EMPTY 304
#define PNG_ABSENT 399
