// Replaced as the library gains its first sources.
namespace vetra_update_placeholder {
int unused = 0;
}
