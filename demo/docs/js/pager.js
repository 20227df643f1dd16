// The previous and next buttons under a chapter, from the pager's data-prev
// and data-next attributes.
const pager = document.getElementById('pager');
for (const [key, label] of [['prev', '< Previous'], ['next', 'Next >']]) {
  const target = pager.dataset[key];
  if (!target)
    continue;
  const button = document.createElement('a');
  button.href = target;
  button.rel = key;
  button.textContent = label;
  pager.appendChild(button);
}
