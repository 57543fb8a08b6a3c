/* Declarations of the vendor sub-group built-ins (cl_tavir_subgroups,
 * cl_tavir_subgroups_long) with the signatures the vendor's OpenCL C compiler
 * gives them, for checking the lane-pair form of the program texts with
 * clang's OpenCL C front end. Declarations only: nothing here runs. */
#ifndef TAVIR_SUBGROUP_BUILTINS_H
#define TAVIR_SUBGROUP_BUILTINS_H

#define TAVIR_OVERLOAD __attribute__((overloadable))

/* Sub-group geometry queries. */
uint TAVIR_OVERLOAD get_sub_group_size(void);
uint TAVIR_OVERLOAD get_max_sub_group_size(void);
uint TAVIR_OVERLOAD get_num_sub_groups(void);
uint TAVIR_OVERLOAD get_enqueued_num_sub_groups(void);
uint TAVIR_OVERLOAD get_sub_group_id(void);
uint TAVIR_OVERLOAD get_sub_group_local_id(void);

/* The sub-group size a kernel requires: a kernel attribute whose argument is
 * an integer constant expression. */
#define tavir_reqd_sub_group_size(n) annotate("tavir_reqd_sub_group_size", n)

/* gentype tavir_sub_group_shuffle_xor(gentype data, uint value): the value of
 * `data` held by the lane (sub-group local id) xor `value`. */
#define TAVIR_SHUFFLE_XOR_OF(T)                                          \
  T TAVIR_OVERLOAD tavir_sub_group_shuffle_xor(T data, uint value);     \
  T##2 TAVIR_OVERLOAD tavir_sub_group_shuffle_xor(T##2 data, uint value); \
  T##3 TAVIR_OVERLOAD tavir_sub_group_shuffle_xor(T##3 data, uint value); \
  T##4 TAVIR_OVERLOAD tavir_sub_group_shuffle_xor(T##4 data, uint value); \
  T##8 TAVIR_OVERLOAD tavir_sub_group_shuffle_xor(T##8 data, uint value); \
  T##16 TAVIR_OVERLOAD tavir_sub_group_shuffle_xor(T##16 data, uint value);
TAVIR_SHUFFLE_XOR_OF(char)
TAVIR_SHUFFLE_XOR_OF(uchar)
TAVIR_SHUFFLE_XOR_OF(short)
TAVIR_SHUFFLE_XOR_OF(ushort)
TAVIR_SHUFFLE_XOR_OF(int)
TAVIR_SHUFFLE_XOR_OF(uint)
TAVIR_SHUFFLE_XOR_OF(long)
TAVIR_SHUFFLE_XOR_OF(ulong)
TAVIR_SHUFFLE_XOR_OF(float)
#ifdef cl_khr_fp64
TAVIR_SHUFFLE_XOR_OF(double)
#endif
#undef TAVIR_SHUFFLE_XOR_OF

/* Block reads and writes of 32-bit words (suffix none, element uint) and
 * of 64-bit words (suffix _ul, element ulong, cl_tavir_subgroups_long):
 * lane i reads or writes element i (of each of the N consecutive
 * sub-group-sized blocks of the N-wide forms) at a pointer every lane of the
 * sub-group passes alike. */
#define TAVIR_BLOCK_OF(S, T)                                                    \
  T TAVIR_OVERLOAD tavir_sub_group_block_read##S(const __global T* p);          \
  T##2 TAVIR_OVERLOAD tavir_sub_group_block_read##S##2(const __global T* p);    \
  T##4 TAVIR_OVERLOAD tavir_sub_group_block_read##S##4(const __global T* p);    \
  T##8 TAVIR_OVERLOAD tavir_sub_group_block_read##S##8(const __global T* p);    \
  void TAVIR_OVERLOAD tavir_sub_group_block_write##S(__global T* p, T data);     \
  void TAVIR_OVERLOAD tavir_sub_group_block_write##S##2(__global T* p, T##2 data); \
  void TAVIR_OVERLOAD tavir_sub_group_block_write##S##4(__global T* p, T##4 data); \
  void TAVIR_OVERLOAD tavir_sub_group_block_write##S##8(__global T* p, T##8 data);
TAVIR_BLOCK_OF(, uint)
TAVIR_BLOCK_OF(_ul, ulong)
#undef TAVIR_BLOCK_OF

#undef TAVIR_OVERLOAD
#endif
