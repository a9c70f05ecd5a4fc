// Resource ids of the batch progress dialog.
#pragma once

#define IDD_BATCH_PROGRESS 140
#define IDC_BATCH_PROGRESS 1008
#define IDC_BATCH_ESTIMATE_LABEL 1075
#define IDC_BATCH_ELAPSED_LABEL 1078
#define IDC_BATCH_ESTIMATE 1009
#define IDC_BATCH_ELAPSED 1010
