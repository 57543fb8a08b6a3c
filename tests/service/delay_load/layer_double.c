/* A threading layer that only tells which one it is. */
const char* qez_test_layer_name(void) { return LAYER_NAME; }
