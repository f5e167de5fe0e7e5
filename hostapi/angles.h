// Degrees and radians. The host's angle controls hold radians; the tool, its
// settings file and its users speak degrees. The factors are the ones the
// tool has always used, not 180 / pi worked out anew: 90 degrees goes to
// the panel as 1.570796326794895 and comes back as 90.00000000000001, and
// the settings file's bounds are set by that round trip.
#ifndef CORVANE_HOSTAPI_ANGLES_H
#define CORVANE_HOSTAPI_ANGLES_H

static const double kRadiansPerDegree = 0.017453292519943278;
static const double kDegreesPerRadian = 57.29577951308239;

#endif
