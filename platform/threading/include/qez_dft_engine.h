/* CPU DFT engine of the threading-layer library: creation of descriptor
 * records (DFTI_DESCRIPTOR, layout in dft/api/descriptor_record.hpp), their
 * blessing for the threading layer, and the binding of the engine's CPU
 * backend lists. Everything else (configuration, commit, compute) is reached
 * through the operations the engine stores in each record.
 *
 * Every function returns an int status: 0 success, 1 out of memory, 2 invalid
 * configuration (precision, domain, rank or a length out of range), 3 missing
 * or inconsistent argument. The last argument of the create functions is
 * reserved and must be 0. */
#ifndef QEZ_DFT_ENGINE_H
#define QEZ_DFT_ENGINE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct DFTI_DESCRIPTOR DFTI_DESCRIPTOR;

/* Lengths innermost (fastest) dimension first; entries beyond the rank are
 * ignored. Rank 1 to 7. */
int qez_dft_dfti_create_node(DFTI_DESCRIPTOR** handle, uint32_t precision, uint32_t domain,
                             uint32_t rank, const int64_t* lengths, int reserved);

int qez_dft_dfti_create_sc1d(DFTI_DESCRIPTOR** handle, int64_t length, int reserved);
int qez_dft_dfti_create_sr1d(DFTI_DESCRIPTOR** handle, int64_t length, int reserved);
int qez_dft_dfti_create_dc1d(DFTI_DESCRIPTOR** handle, int64_t length, int reserved);
int qez_dft_dfti_create_dr1d(DFTI_DESCRIPTOR** handle, int64_t length, int reserved);

int qez_dft_dfti_create_scmd(DFTI_DESCRIPTOR** handle, int64_t rank, const int64_t* lengths,
                             int reserved);
int qez_dft_dfti_create_srmd(DFTI_DESCRIPTOR** handle, int64_t rank, const int64_t* lengths,
                             int reserved);
int qez_dft_dfti_create_dcmd(DFTI_DESCRIPTOR** handle, int64_t rank, const int64_t* lengths,
                             int reserved);
int qez_dft_dfti_create_drmd(DFTI_DESCRIPTOR** handle, int64_t rank, const int64_t* lengths,
                             int reserved);

/* Bind the engine's CPU backend list of one class to the record (and install
 * the engine's method table on it). 3 when the record does not belong to the
 * class (precision, domain, rank 1 or more). */
int qez_dft_dfti_set_bkdlist_sc1d(DFTI_DESCRIPTOR** handle, DFTI_DESCRIPTOR* record);
int qez_dft_dfti_set_bkdlist_scmd(DFTI_DESCRIPTOR** handle, DFTI_DESCRIPTOR* record);
int qez_dft_dfti_set_bkdlist_dc1d(DFTI_DESCRIPTOR** handle, DFTI_DESCRIPTOR* record);
int qez_dft_dfti_set_bkdlist_dcmd(DFTI_DESCRIPTOR** handle, DFTI_DESCRIPTOR* record);
int qez_dft_dfti_set_bkdlist_sr1d(DFTI_DESCRIPTOR** handle, DFTI_DESCRIPTOR* record);
int qez_dft_dfti_set_bkdlist_srmd(DFTI_DESCRIPTOR** handle, DFTI_DESCRIPTOR* record);
int qez_dft_dfti_set_bkdlist_dr1d(DFTI_DESCRIPTOR** handle, DFTI_DESCRIPTOR* record);
int qez_dft_dfti_set_bkdlist_drmd(DFTI_DESCRIPTOR** handle, DFTI_DESCRIPTOR* record);

/* Finishes a record for this threading layer: points it at the engine's
 * service queries, or fills the empty query slots of the table it already
 * has. 0, or 5 for a record without the descriptor magic. */
int qez_dft_bless_node_thr(DFTI_DESCRIPTOR* record);

#ifdef __cplusplus
}
#endif

#endif
