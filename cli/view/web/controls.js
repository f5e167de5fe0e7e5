// The options panel: the bevel size as a number and as a slider on a
// logarithmic scale around a default from the mesh's size (with the safe size
// marked on it), the angle mode and the limit angle, the display toggles and
// the buttons. It reports every change of the options through `onChange`.

const STEPS = 1000;   // slider positions
const DECADES = 2;    // the slider spans the default size divided and multiplied by 10^2

// 1, 2 or 5 times a power of ten, nearest below `value`.
function roundDown(value) {
  const power = Math.pow(10, Math.floor(Math.log10(value)));
  const m = value / power;
  return (m >= 5 ? 5 : m >= 2 ? 2 : 1) * power;
}

// A starting bevel size: a fiftieth of the bounding box diagonal, kept below
// half the safe size, as a round number.
export function defaultSize(positions, safeSize) {
  const lo = [Infinity, Infinity, Infinity], hi = [-Infinity, -Infinity, -Infinity];
  for (let i = 0; i < positions.length; i += 3)
    for (let c = 0; c < 3; c++) {
      lo[c] = Math.min(lo[c], positions[i + c]);
      hi[c] = Math.max(hi[c], positions[i + c]);
    }
  let diagonal = Math.hypot(hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]);
  if (!(diagonal > 0) || !isFinite(diagonal)) diagonal = 1;
  let size = diagonal / 50;
  if (safeSize !== null && safeSize > 0 && size > safeSize / 2) size = safeSize / 2;
  return roundDown(size);
}

export class Controls {
  constructor(onChange) {
    this.onChange = onChange;
    this.el = (id) => document.getElementById(id);
    this.size = this.el('size');
    this.slider = this.el('size-slider');
    this.mode = this.el('angle-mode');
    this.limit = this.el('limit-angle');
    this.clamp = this.el('clamp');
    this.centre = 1;
    this.safe = null;
    this.size.addEventListener('input', () => {
      if (this.value().size !== null) this.placeSlider();
      this.onChange();
    });
    this.slider.addEventListener('input', () => {
      this.size.value = String(this.sliderSize());
      this.onChange();
    });
    this.mode.addEventListener('change', () => this.onChange());
    this.limit.addEventListener('input', () => this.onChange());
    this.clamp.addEventListener('change', () => this.onChange());
  }

  // Sets the starting values and the slider's scale.
  init(size, angleMode, limitDeg, safeSize) {
    this.centre = size;
    this.safe = safeSize;
    this.size.value = String(size);
    this.mode.value = ['disable', 'lt', 'gt'][angleMode] || 'disable';
    this.limit.value = String(limitDeg);
    this.placeSlider();
    const mark = this.el('safe-mark');
    const marks = this.el('size-marks');
    marks.replaceChildren();
    if (safeSize !== null && safeSize > 0) {
      const t = this.toSlider(safeSize);
      if (t >= 0 && t <= STEPS) {
        mark.hidden = false;
        mark.style.left = `${(t / STEPS) * 100}%`;
        const option = document.createElement('option');
        option.value = String(Math.round(t));
        marks.appendChild(option);
      }
    }
  }

  toSlider(size) {
    return (Math.log10(size / this.centre) / DECADES + 1) * (STEPS / 2);
  }

  sliderSize() {
    const exponent = (Number(this.slider.value) / (STEPS / 2) - 1) * DECADES;
    // Four significant digits: the field shows what the run uses.
    return Number((this.centre * Math.pow(10, exponent)).toPrecision(4));
  }

  placeSlider() {
    const size = Number(this.size.value);
    if (size > 0) this.slider.value = String(Math.max(0, Math.min(STEPS, Math.round(this.toSlider(size)))));
  }

  // The options as the controls hold them; size or limit null when the
  // field does not hold a number the server takes.
  value() {
    const size = this.size.value.trim() === '' ? NaN : Number(this.size.value);
    const limit = this.limit.value.trim() === '' ? NaN : Number(this.limit.value);
    return {
      size: isFinite(size) ? size : null,
      angleMode: this.mode.value,
      limitDeg: isFinite(limit) && limit >= 0 && limit <= 180 ? limit : null,
      clamp: this.clamp.checked,
    };
  }
}
