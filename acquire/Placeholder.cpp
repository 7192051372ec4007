// Replaced as the library gains its first sources.
namespace vetra_acquire_placeholder {
int unused = 0;
}
