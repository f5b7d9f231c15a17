// Control identifiers of the FCREATOR dialog template. Plain macros: the
// resource compiler reads this file too.
#pragma once

#define IDC_PREVIEW_FRAME (-5)
#define IDC_PREVIEW 100
#define IDC_SLIDER_LABEL_BASE 100 /* + k, k = 1..8 */
#define IDC_TRACKBAR_BASE 200     /* + k */
#define IDC_VALUE_EDIT_BASE 300   /* + k */
#define IDC_COLOUR_LABEL 400
#define IDC_SWATCH_BASE 400       /* + k, k = 1..6 */
#define IDC_SWATCH_FRAME_BASE 490 /* + k */
#define IDC_CHECK_1 501
#define IDC_CHECK_2 502
#define IDC_PREVIEW_LABEL 65534
#define IDC_AUTHOR_LINE 65533
#define IDC_ABOUT 10
#define IDC_HELP_BUTTON 12
#define IDC_ZOOM_IN 91
#define IDC_ZOOM_OUT 92
#define IDC_FILTERING 93
#define IDC_ZOOM_TEXT 110

#define SLIDER_COUNT 8
#define SWATCH_COUNT 6
