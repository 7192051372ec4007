// Replaced as the library gains its first sources.
namespace vetra_encode_placeholder {
int unused = 0;
}
