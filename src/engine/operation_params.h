// Preprocessor helpers for the parameter lists and policy columns of
// engine/operation_table.h.
// Pure macros with no includes, so every door (the library's exports, the
// command-line host, which must not link the engine) can expand the table.
//
// A table line writes its parameters as KV_PARAMS(type, name, type, name...),
// type being BSTR or LONG; that becomes a counted tuple (n, type, name...),
// and KV_PARAM_LIST(m, params) expands it to m(type, name) for each
// parameter, separated by commas.
#pragma once

#define KV_CAT(a, b) KV_CAT_(a, b)
#define KV_CAT_(a, b) a##b
#define KV_UNPAREN(...) __VA_ARGS__

// --- counting: the number of (type, name) pairs, 0 to 7 -------------------
// An odd number of words yields KV_ODD_PARAMS, which names no expansion and
// so stops the build at the faulty line. An empty list counts as one empty
// argument, which is the 0 below.
#define KV_PARAMS(...) (KV_PARAM_PAIRS(__VA_ARGS__), __VA_ARGS__)
#define KV_PARAM_PAIRS(...)                                                                                     \
  KV_PARAM_PICK(__VA_ARGS__, 7, KV_ODD_PARAMS, 6, KV_ODD_PARAMS, 5, KV_ODD_PARAMS, 4, KV_ODD_PARAMS, 3,        \
                KV_ODD_PARAMS, 2, KV_ODD_PARAMS, 1, 0, ~)
#define KV_PARAM_PICK(_1, _2, _3, _4, _5, _6, _7, _8, _9, _10, _11, _12, _13, _14, n, ...) n

// The number of parameters of a counted tuple.
#define KV_PARAM_COUNT(params) KV_PARAM_COUNT_ params
#define KV_PARAM_COUNT_(n, ...) n

// --- expansion: m(type, name) for each parameter, comma-separated ----------
#define KV_PARAM_LIST(m, params) KV_PARAM_LIST_(m, KV_UNPAREN params)
#define KV_PARAM_LIST_(m, ...) KV_PARAM_LIST_N(m, __VA_ARGS__)
#define KV_PARAM_LIST_N(m, n, ...) KV_CAT(KV_PARAM_LIST_, n)(m, __VA_ARGS__)

#define KV_PARAM_LIST_0(m, ...)
#define KV_PARAM_LIST_1(m, t1, n1) m(t1, n1)
#define KV_PARAM_LIST_2(m, t1, n1, t2, n2) m(t1, n1), m(t2, n2)
#define KV_PARAM_LIST_3(m, t1, n1, t2, n2, t3, n3) m(t1, n1), m(t2, n2), m(t3, n3)
#define KV_PARAM_LIST_4(m, t1, n1, t2, n2, t3, n3, t4, n4) m(t1, n1), m(t2, n2), m(t3, n3), m(t4, n4)
#define KV_PARAM_LIST_5(m, t1, n1, t2, n2, t3, n3, t4, n4, t5, n5) \
  m(t1, n1), m(t2, n2), m(t3, n3), m(t4, n4), m(t5, n5)
#define KV_PARAM_LIST_6(m, t1, n1, t2, n2, t3, n3, t4, n4, t5, n5, t6, n6) \
  m(t1, n1), m(t2, n2), m(t3, n3), m(t4, n4), m(t5, n5), m(t6, n6)
#define KV_PARAM_LIST_7(m, t1, n1, t2, n2, t3, n3, t4, n4, t5, n5, t6, n6, t7, n7) \
  m(t1, n1), m(t2, n2), m(t3, n3), m(t4, n4), m(t5, n5), m(t6, n6), m(t7, n7)

// A parameter as the engine declares it: `BSTR strName`.
#define KV_DECLARE_PARAM(type, name) type name


// A table line's policy column, KV_POLICY(reset, protectedMode, siteLock,
// refused, page), becomes a plain tuple; a door takes the field it needs
// with a macro of those five parameters applied to it (`KV_PICK policy`).
#define KV_POLICY(reset, protectedMode, siteLock, refused, page) (reset, protectedMode, siteLock, refused, page)
